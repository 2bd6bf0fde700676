#pragma once

// The main window as channel windows see it, for tests: settable modes, the
// connection's window count and fixed window (from a real CommPort when one
// is attached), and records of what the windows asked for.

#include "ChannelTable.h"
#include "ChannelWindowContext.h"
#include "ClipIndex.h"
#include "ClipRecorder.h"
#include "CommPort.h"
#include "RegistryStore.h"
#include "ScriptedDialogService.h"
#include "TempDir.h"

#include <QString>

#include <utility>
#include <vector>

class FakeChannelWindowContext final : public ChannelWindowContext {
public:
    struct Snapshot {
        std::vector<uint8_t> frame;
        VideoDecompressor* decompressor = nullptr;
        QString title;
    };

    bool sizeChangeMode = false;
    bool barsShown = true;
    int windowCount = 1;      // without a CommPort
    uint64_t fixedWindow = 0; // without a CommPort
    CommPort* port = nullptr;
    DialogService* dialogOverride = nullptr; // instead of `dialogs`

    ChannelTable channels;
    ScriptedDialogService dialogs;
    TempDir dir{"dialscope-video-test"};
    RegistryStore store{dir.file("user.sqlite")};
    ClipIndex clips{store, channels};
    std::string recordPath = dir.path() + "/";

    std::vector<uint64_t> fixCalls;
    std::vector<std::pair<uint64_t, bool>> closeCalls;
    std::vector<Snapshot> snapshots;

    bool SizeChangeMode() const override { return sizeChangeMode; }
    bool BarsShown() const override { return barsShown; }
    std::string ChannelName(int32_t channel) const override { return channels.GetChannelName(channel); }
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
    std::unique_ptr<ClipRecorder> CreateRecorder() override {
        ClipRecorder::Environment environment;
        environment.recordPath = [this] {
            return recordPath;
        };
        return std::make_unique<ClipRecorder>(clips, environment);
    }
    void ShowSnapshot(std::span<const uint8_t> frame, const std::shared_ptr<VideoDecompressor>& decompressor,
                      const QString& title) override {
        snapshots.push_back({std::vector<uint8_t>(frame.begin(), frame.end()), decompressor.get(), title});
    }
    DialogService& Dialogs() override { return dialogOverride ? *dialogOverride : dialogs; }
};
