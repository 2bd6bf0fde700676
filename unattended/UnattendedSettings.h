#pragma once

// The options of unattended operation, kept in the profile's "Unattended"
// section: "Reconnect" (0/1), "ReconnectAttempts" (1..20, default 5),
// "RetentionFreeSpace" (0/1: delete the oldest clips while free space is below
// the warning limit) and "RetentionDays" (delete clips older than this; 0 =
// never). Everything is off when nothing is stored, so the program behaves as
// without these options.

#include <cstdint>

class AppStore;

struct UnattendedSettings {
    static constexpr int32_t kMaxRetentionDays = 3650;

    bool reconnect = false;
    int32_t reconnectAttempts = 5;
    bool retentionFreeSpace = false;
    int32_t retentionDays = 0;

    // Out-of-range stored numbers read as their defaults.
    static UnattendedSettings read(AppStore& store);
    bool store(AppStore& store) const;
};
