#pragma once

// The connection's view of the application store: the login takes the "Call"
// values the connect dialog stored (the password whatever "Save" says),
// tiling follows "VideoArrange", and a calling site's record is filed as an
// event record.

#include "app/core/AppStore.h"
#include "link/LinkInterfaces.h"

class AppConnectionStore final : public ConnectionStore {
public:
    explicit AppConnectionStore(AppStore& store)
        : m_store(store) {}

    LoginValues loginValues() const override;
    bool videoArrangeOn() const override { return m_store.videoArrange(); }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) override;

private:
    AppStore& m_store;
};
