#pragma once

// The main window as channel windows see it, for tests: settable modes, and
// the connection's controls (window count and fixed window from a real
// CommPort when one is attached) with records of what the windows asked for.

#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipRecorder.h"
#include "link/ChannelControl.h"
#include "link/CommPort.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"
#include "video/core/ChannelWindowContext.h"

#include <QString>

#include <utility>
#include <vector>

class FakeChannelWindowContext final : public ChannelWindowContext, public ChannelControl {
public:
    bool sizeModeOn = false;
    bool barsOn = true;
    int windowCount = 1;      // without a CommPort
    uint64_t fixedWindow = 0; // without a CommPort
    CommPort* port = nullptr;
    DialogService* dialogOverride = nullptr; // instead of `scriptedDialogs`

    ChannelTable channels;
    ScriptedDialogService scriptedDialogs;
    TempDir dir{"dialscope-video-test"};
    RegistryStore store{dir.file("user.sqlite")};
    ClipIndex clips{store, channels};
    std::string recordPath = dir.path() + "/";

    std::vector<uint64_t> fixCalls;
    std::vector<std::pair<uint64_t, bool>> closeCalls;

    bool sizeChangeMode() const override { return sizeModeOn; }
    bool barsShown() const override { return barsOn; }
    std::string channelName(int32_t channel) const override { return channels.GetChannelName(channel); }
    ChannelControl& Control() override { return *this; }
    int WindowCount() const override { return port ? port->WindowCount() : windowCount; }
    uint64_t FixedWindow() const override { return port ? port->FixedWindow() : fixedWindow; }
    void FixWindow(uint64_t windowId) override {
        fixCalls.push_back(windowId);
        if (port)
            port->FixWindow(windowId);
    }
    void CloseWindow(uint64_t windowId, bool sendCloseChannel) override {
        closeCalls.emplace_back(windowId, sendCloseChannel);
        if (port)
            port->CloseWindow(windowId, sendCloseChannel);
    }
    std::unique_ptr<ClipRecorder> createRecorder() override {
        ClipRecorder::Environment environment;
        environment.recordPath = [this] {
            return recordPath;
        };
        return std::make_unique<ClipRecorder>(clips, environment);
    }
    DialogService& dialogs() override { return dialogOverride ? *dialogOverride : scriptedDialogs; }
};

// The stored values the connection reads; "VideoArrange" is settable.
class FakeConnectionStore final : public ConnectionStore {
public:
    bool videoArrange = false;
    LoginValues loginValues() const override { return {}; }
    bool videoArrangeOn() const override { return videoArrange; }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>&) override { return true; }
};
