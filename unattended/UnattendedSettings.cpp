#include "unattended/UnattendedSettings.h"

#include "app/core/AppStore.h"
#include "unattended/RedialScheduler.h"

namespace {

constexpr std::string_view kSection = "Unattended";

} // namespace

UnattendedSettings UnattendedSettings::Read(AppStore& store) {
    UnattendedSettings s;
    s.reconnect = store.GetProfileInt(kSection, "Reconnect", 0) == 1;
    const int32_t attempts =
        store.GetProfileInt(kSection, "ReconnectAttempts", RedialScheduler::kDefaultAttempts);
    s.reconnectAttempts =
        attempts >= RedialScheduler::kMinAttempts && attempts <= RedialScheduler::kMaxAttempts
            ? attempts
            : RedialScheduler::kDefaultAttempts;
    s.retentionFreeSpace = store.GetProfileInt(kSection, "RetentionFreeSpace", 0) == 1;
    const int32_t days = store.GetProfileInt(kSection, "RetentionDays", 0);
    s.retentionDays = days >= 0 && days <= kMaxRetentionDays ? days : 0;
    return s;
}

bool UnattendedSettings::Store(AppStore& store) const {
    bool ok = store.SetProfileInt(kSection, "Reconnect", reconnect ? 1 : 0);
    ok = store.SetProfileInt(kSection, "ReconnectAttempts", reconnectAttempts) && ok;
    ok = store.SetProfileInt(kSection, "RetentionFreeSpace", retentionFreeSpace ? 1 : 0) && ok;
    ok = store.SetProfileInt(kSection, "RetentionDays", retentionDays) && ok;
    return ok;
}
