#pragma once

// What a live channel window needs from the rest of the program, gathered in
// one interface that the main window implements (tests back it with a
// double). All calls happen on the user-interface thread.

#include <cstdint>
#include <memory>
#include <string>

class ChannelControl;
class ClipRecorder;
class DialogService;

class ChannelWindowContext {
public:
    virtual ~ChannelWindowContext() = default;

    // The main window's size-change mode ("Change video size"): while on, the
    // picture shows the size cursor and a double-click steps the size preset.
    virtual bool sizeChangeMode() const = 0;
    // The main window's bars ("Toolbar"): a window created while they are
    // hidden starts without caption and toolbar.
    virtual bool barsShown() const = 0;
    // The channel's name in the application's channel table; empty when the
    // channel is not listed.
    virtual std::string channelName(int32_t channel) const = 0;

    // The connection the window belongs to: window count, fixed window, fix
    // and close.
    virtual ChannelControl& Control() = 0;

    // The recorder a new window records its clips with (record folder, clip
    // index and clock are the program's).
    virtual std::unique_ptr<ClipRecorder> createRecorder() = 0;

    // Message boxes, and the file dialogs of the snapshot viewers it opens.
    virtual DialogService& dialogs() = 0;

    // A window of this call started a clip (the call log counts them).
    virtual void clipStarted() {}
};
