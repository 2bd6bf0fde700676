#include "unattended/UnattendedSettings.h"

#include "app/core/AppStore.h"
#include "unattended/RedialScheduler.h"

namespace {

constexpr std::string_view kSection = "Unattended";

} // namespace

UnattendedSettings UnattendedSettings::read(AppStore& store) {
    UnattendedSettings s;
    s.reconnect = store.profileInt(kSection, "Reconnect", 0) == 1;
    const int32_t attempts =
        store.profileInt(kSection, "ReconnectAttempts", RedialScheduler::kDefaultAttempts);
    s.reconnectAttempts =
        attempts >= RedialScheduler::kMinAttempts && attempts <= RedialScheduler::kMaxAttempts
            ? attempts
            : RedialScheduler::kDefaultAttempts;
    s.retentionFreeSpace = store.profileInt(kSection, "RetentionFreeSpace", 0) == 1;
    const int32_t days = store.profileInt(kSection, "RetentionDays", 0);
    s.retentionDays = days >= 0 && days <= kMaxRetentionDays ? days : 0;
    return s;
}

bool UnattendedSettings::store(AppStore& store) const {
    bool ok = store.setProfileInt(kSection, "Reconnect", reconnect ? 1 : 0);
    ok = store.setProfileInt(kSection, "ReconnectAttempts", reconnectAttempts) && ok;
    ok = store.setProfileInt(kSection, "RetentionFreeSpace", retentionFreeSpace ? 1 : 0) && ok;
    ok = store.setProfileInt(kSection, "RetentionDays", retentionDays) && ok;
    return ok;
}
