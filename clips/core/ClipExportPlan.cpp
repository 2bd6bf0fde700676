#include "clips/core/ClipExportPlan.h"
#include "app/core/WireText.h"

#include <cstdio>
#include <ctime>

namespace {

// "%04d/%02d/%02d" and "%02d:%02d" as kept in the index, local time.
std::optional<int64_t> minuteMs(const std::string& date, const std::string& time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (date.size() != 10 || time.size() != 5 ||
        std::sscanf(date.c_str(), "%4d/%2d/%2d", &year, &month, &day) != 3 ||
        std::sscanf(time.c_str(), "%2d:%2d", &hour, &minute) != 2)
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || year < 1970)
        return std::nullopt;
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (t == std::time_t(-1))
        return std::nullopt;
    return int64_t(t) * 1000;
}

} // namespace

std::optional<int64_t> clipStartMs(const ClipRecord& record) {
    if (const auto fromName = clipStartFromFileName(record.FileName))
        return fromName;
    return minuteMs(record.SDate, record.STime);
}

std::optional<int64_t> clipEndMinuteMs(const ClipRecord& record) {
    return minuteMs(record.EDate, record.ETime);
}

ExportPlan exportPlanForClips(const std::vector<const ClipRecord*>& records, const std::string& label) {
    ExportPlan plan;
    plan.title = WireText::toDisplay(label).toStdString();
    for (const ClipRecord* record : records)
        if (const auto start = clipStartMs(*record))
            plan.clips.push_back({record->Path + record->FileName, *start});
    return plan;
}

ExportPlan exportPlanForRange(const ClipGroup& group, int64_t fromMs, int64_t untilMs) {
    constexpr int64_t kMinuteMs = 60'000;
    ExportPlan plan;
    plan.title = WireText::toDisplay(group.label).toStdString();
    plan.fromMs = fromMs;
    plan.untilMs = untilMs;
    for (const ClipRecord& record : group.records) {
        const auto start = clipStartMs(record);
        if (!start || *start >= untilMs)
            continue;
        const auto end = clipEndMinuteMs(record);
        if (end && *end + kMinuteMs <= fromMs)
            continue;
        plan.clips.push_back({record.Path + record.FileName, *start});
    }
    return plan;
}
