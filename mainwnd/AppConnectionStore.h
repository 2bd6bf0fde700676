#pragma once

// The connection's view of the application store: the "Call" values the
// login sends, the "VideoArrange" setting and the event records sites file.

#include "LinkInterfaces.h"

class AppStore;

class AppConnectionStore final : public ConnectionStore {
public:
    explicit AppConnectionStore(AppStore& store)
        : m_store(store) {}

    LoginValues GetLoginValues() const override;
    bool VideoArrangeOn() const override;
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) override;

private:
    AppStore& m_store;
};
