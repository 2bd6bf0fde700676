#include "connect/AppConnectionStore.h"
#include "app/core/WireText.h"

#include <cstring>

static_assert(Wire::kSiteRecordSize == kEventBlockSize, "a site record is filed as one event block");

LoginValues AppConnectionStore::loginValues() const {
    const CallSettings call = m_store.callSettings();
    return {WireText::fromStoredCredential(call.user), WireText::fromStoredCredential(call.password),
            call.formatSize, call.quality};
}

bool AppConnectionStore::AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) {
    EventBlock block;
    std::memcpy(block.data(), record.data(), block.size());
    return m_store.AddEventRecord(block);
}
