#include "AppConnectionStore.h"

#include "AppStore.h"

#include <algorithm>

static_assert(Wire::kSiteRecordSize == kEventBlockSize, "a site record is filed whole as an event block");

LoginValues AppConnectionStore::GetLoginValues() const {
    const CallSettings call = m_store.GetCallSettings();
    return LoginValues{call.user, call.password, call.formatSize, call.quality};
}

bool AppConnectionStore::VideoArrangeOn() const {
    return m_store.GetVideoArrange();
}

bool AppConnectionStore::AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) {
    EventBlock block;
    std::transform(record.begin(), record.end(), block.begin(), [](uint8_t b) { return char(b); });
    return m_store.AddEventRecord(block);
}
