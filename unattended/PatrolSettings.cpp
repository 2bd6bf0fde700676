#include "unattended/PatrolSettings.h"

#include "app/core/AppStore.h"
#include "unattended/PatrolRunner.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr std::string_view kSection = "Patrol";

} // namespace

PatrolSettings PatrolSettings::read(AppStore& store) {
    PatrolSettings s;
    const QString entries = QString::fromStdString(store.profileText(kSection, "Entries", {}));
    for (const QString& name : entries.split(u'\n', Qt::SkipEmptyParts))
        s.entries.append(name);
    s.scheduled = store.profileInt(kSection, "Scheduled", 0) == 1;
    const int32_t hours = store.profileInt(kSection, "EveryHours", 0);
    s.everyHours = hours >= 1 && hours <= kMaxHours ? hours : 0;
    s.times =
        parseTimes(QString::fromStdString(store.profileText(kSection, "Times", {}))).value_or(QList<QTime>{});
    const int32_t seconds = store.profileInt(kSection, "RecordSeconds", 0);
    s.recordSeconds = seconds >= 0 && seconds <= kMaxRecordSeconds ? seconds : 0;
    return s;
}

bool PatrolSettings::store(AppStore& store) const {
    bool ok = store.setProfileText(kSection, "Entries", entries.join(u'\n').toStdString());
    ok = store.setProfileInt(kSection, "Scheduled", scheduled ? 1 : 0) && ok;
    ok = store.setProfileInt(kSection, "EveryHours", everyHours) && ok;
    ok = store.setProfileText(kSection, "Times", formatTimes(times).toStdString()) && ok;
    ok = store.setProfileInt(kSection, "RecordSeconds", recordSeconds) && ok;
    return ok;
}

std::optional<QList<QTime>> PatrolSettings::parseTimes(const QString& text) {
    QList<QTime> times;
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    for (const QString& item : text.split(separators, Qt::SkipEmptyParts)) {
        const QTime time = QTime::fromString(item, QStringLiteral("h:mm"));
        if (!time.isValid())
            return std::nullopt;
        times.append(time);
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

QString PatrolSettings::formatTimes(const QList<QTime>& times) {
    QStringList items;
    for (const QTime& time : times)
        items.append(time.toString(QStringLiteral("hh:mm")));
    return items.join(u' ');
}

std::vector<PatrolSite> patrolSitesFromPhoneBook(AppStore& store, const QStringList& names,
                                                 QStringList* missing) {
    std::vector<PhoneEntry> book;
    store.LoadPhoneBook(book);
    const CallSettings call = store.callSettings();
    std::vector<PatrolSite> sites;
    for (const QString& name : names) {
        const auto it = std::find_if(book.begin(), book.end(), [&](const PhoneEntry& e) {
            return QString::fromStdString(e.Name).compare(name, Qt::CaseInsensitive) == 0;
        });
        if (it == book.end()) {
            if (missing)
                missing->append(name);
            continue;
        }
        PatrolSite site;
        site.name = QString::fromStdString(it->Name);
        site.number = QString::fromStdString(it->Dial);
        // A phone-book entry holds the site's password; the user name is the
        // entry's name, as the connect dialog fills it in.
        site.login.user = it->Name;
        site.login.password = it->PassWord;
        site.login.formatSize = call.formatSize;
        site.login.quality = call.quality;
        sites.push_back(std::move(site));
    }
    return sites;
}

std::optional<QDateTime> PatrolSchedule::nextRound(const PatrolSettings& settings, const QDateTime& last) {
    if (!settings.scheduled || settings.entries.isEmpty())
        return std::nullopt;
    if (settings.everyHours > 0)
        return last.addSecs(qint64(settings.everyHours) * 3600);
    if (settings.times.isEmpty())
        return std::nullopt;
    // The first listed time of day after `last`, today or tomorrow.
    for (int day = 0; day < 2; ++day) {
        const QDate date = last.date().addDays(day);
        for (const QTime& time : settings.times) {
            const QDateTime at(date, time);
            if (at > last)
                return at;
        }
    }
    return std::nullopt;
}
