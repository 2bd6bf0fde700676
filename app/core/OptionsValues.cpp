#include "app/core/OptionsValues.h"

#include "app/core/AppStore.h"
#include "res/StringTable.h"

OptionsValues OptionsValues::read(AppStore& store) {
    OptionsValues values;
    values.autoRun = store.autoRun();
    values.autoArrange = store.videoArrange();
    values.lowSpaceMB = store.limitDiskSpace();
    values.checkSeconds = store.checkTimer();
    return values;
}

bool OptionsValues::store(AppStore& store) const {
    // Start with the session lives in the machine-wide store, which only
    // the administrator may change; the operator's own settings decide.
    store.SetAutoRun(autoRun);
    bool ok = store.SetSetting(AppStore::kVideoArrange, autoArrange ? 1 : 0);
    ok = store.SetSetting(AppStore::kLimitDiskSpace, int32_t(lowSpaceMB)) && ok;
    return store.SetSetting(AppStore::kCheckTimer, int32_t(checkSeconds)) && ok;
}

NumberCheck checkNumberField(const QString& text, uint32_t min, uint32_t max) {
    QString digits = text.trimmed();
    bool allDigits = !digits.isEmpty();
    for (QChar c : digits)
        allDigits = allDigits && c >= u'0' && c <= u'9';
    if (!allDigits)
        return {std::nullopt, loadString(IDP_PARSE_UINT)};

    // Saturates, so a long run of digits is out of range rather than wrapped.
    uint64_t value = 0;
    for (QChar c : digits)
        value = std::min<uint64_t>(value * 10 + uint64_t(c.unicode() - u'0'), uint64_t(UINT32_MAX) + 1);
    if (value < min || value > max)
        return {std::nullopt, loadString(IDP_PARSE_INT_RANGE).arg(min).arg(max)};
    return {uint32_t(value), QString()};
}
