#pragma once

// A main window on private stores, a scripted telephony service with one
// modem, scripted message boxes and scripted dialogs.

#include "app/core/AppStore.h"
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "link/CodecDecompressorFactory.h"
#include "mainwnd/MainFrame.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "platform/telephony/ScriptedTelephony.h"
#include "tests/mainwnd/ScriptedFrameDialogs.h"
#include "tests/support/TempDir.h"

#include <memory>

struct FrameFixture {
    explicit FrameFixture(int modems = 1) {
        for (int i = 0; i < modems; ++i)
            telephony.devices.push_back({"Modem " + std::to_string(i)});
    }

    MainFrame& Make(QStringList fileFolders = {QStringLiteral("/nonexistent")}) {
        MainFrame::Environment env{store,         channels,     clips, dialogs,    telephony,
                                   decompressors, frameDialogs, app,   fileFolders};
        env.callLog = &callLog;
        frame = std::make_unique<MainFrame>(std::move(env));
        frame->Start();
        return *frame;
    }

    TempDir dir{"dialscope-frame"};
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
    CallLog callLog{QString::fromStdString(dir.file("calls.sqlite"))};
    ChannelTable channels;
    ClipIndex clips{user, channels};
    ScriptedDialogService dialogs;
    tel::ScriptedTelephony telephony;
    CodecDecompressorFactory decompressors;
    ScriptedFrameDialogs frameDialogs;
    CountingAppCommands app;
    std::unique_ptr<MainFrame> frame;
};
