#pragma once

// The stored patrol: the profile's "Patrol" section with "Entries" (phone-book
// names, one per line, in calling order), "Scheduled" (0/1), "EveryHours"
// (1..168; 0: by times of day), "Times" (times of day, "hh:mm" separated by
// blanks or commas) and "RecordSeconds" (0 = no recording). Nothing stored:
// no patrol runs by itself.
//
// PatrolSchedule decides when the next round is due, from the last round's
// start (or the moment the schedule was set up) and the local time now.

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class AppStore;
struct PatrolSite;

struct PatrolSettings {
    static constexpr int32_t kMaxHours = 168;
    static constexpr int32_t kMaxRecordSeconds = 600;

    QStringList entries;
    bool scheduled = false;
    int32_t everyHours = 0;
    QList<QTime> times;
    int32_t recordSeconds = 0;

    static PatrolSettings read(AppStore& store);
    bool store(AppStore& store) const;

    // "hh:mm" items separated by blanks or commas, sorted, duplicates dropped;
    // nothing when any item is not a valid time.
    static std::optional<QList<QTime>> parseTimes(const QString& text);
    static QString formatTimes(const QList<QTime>& times);
};

// The phone-book entries named in `names`, in that order, with their numbers
// and credentials; `missing` gets the names the phone book does not hold.
std::vector<PatrolSite> patrolSitesFromPhoneBook(AppStore& store, const QStringList& names,
                                                 QStringList* missing);

class PatrolSchedule {
public:
    // When the round after one that started at `last` is due; nothing when the
    // settings schedule no rounds.
    static std::optional<QDateTime> nextRound(const PatrolSettings& settings, const QDateTime& last);
};
