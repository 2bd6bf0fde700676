#pragma once

// The main window's commands: one table of command identifiers, each with its
// handler, its enable rule and its check rule.
//
// How it works: the rules are plain functions of a FrameState, a snapshot of
// everything they depend on (line, call and port states, the channel table,
// the window count, the frame's own flags). Menus, toolbar buttons and keys
// are bound to the table by identifier; their enabled and checked states are
// refreshed from a fresh snapshot whenever that state changes. A command is
// carried out only through Dispatch, which asks the rule again with the state
// of the moment it arrives, whether it comes from a menu, a button, a key or a
// command posted by the connection.

#include "res/CommandId.h"

#include <span>

// What the enable and check rules look at, taken at one moment.
struct FrameState {
    bool lineOpen = false;       // the line control holds an open line
    bool callPresent = false;    // a call is being placed, answered or is up
    int deviceCount = 0;         // line devices the telephony service lists
    bool portOpen = false;       // the connection's serial port runs
    bool mayOpen = false;        // the site granted the open permission
    bool channelsListed = false; // the channel table is not empty
    int windowCount = 0;         // live channel windows
    bool sizeMode = false;       // "Change video size" is on
    bool barsShown = true;       // toolbar, status strip and status bar shown
    bool alarmPlaying = false;
    bool discovering = false;   // the modems are still being looked for
    bool redialPending = false; // a dropped call is to be dialled again
    bool patrolRunning = false; // a patrol round is under way
};

// The receiver of the commands: the main window.
class FrameCommands {
public:
    virtual ~FrameCommands() = default;
    virtual void onConnect() = 0;
    virtual void onHangUp() = 0;
    virtual void onListen() = 0;
    virtual void onPhoneBook() = 0;
    virtual void onSelectModem() = 0;
    virtual void onOpenChannel() = 0;
    virtual void onVideoWindow() = 0;
    virtual void onChangeSize() = 0;
    virtual void arrangeWindows() = 0;
    virtual void onToolbar() = 0;
    virtual void onEventNotify() = 0;
    virtual void onPlayback() = 0;
    virtual void onOptions() = 0;
    virtual void onRecordPath() = 0;
    virtual void onSetupPassword() = 0;
    virtual void onStopAlarm() = 0;
    virtual void onHelp() = 0;
    virtual void onRemoteControl() = 0;
    virtual void onLoginError() = 0;
    virtual void onCompressionError() = 0;
    virtual void onAbout() = 0;
    virtual void onExit() = 0;
    virtual void onUnattended() {}
    virtual void onPatrolSetup() {}
    virtual void onPatrolRun() {}
    virtual void onPatrolStop() {}
    virtual void onPatrolReport() {}
    virtual void onNetworkModems() {}
};

using CommandRule = bool (*)(const FrameState&);

struct CommandEntry {
    CommandId id;
    void (FrameCommands::*handler)();
    CommandRule enabled; // null: always enabled
    CommandRule checked; // null: never checked
};

// Every command of the main window, in identifier order.
std::span<const CommandEntry> frameCommandTable();
// The entry of `id`; null for an identifier the main window does not handle.
const CommandEntry* findFrameCommand(CommandId id);

bool isCommandEnabled(CommandId id, const FrameState& state);
// commands that need a line (Connect, listen, Select modem): while the modems
// are looked for they wait for the search instead of running.
bool commandWaitsForModems(CommandId id);
bool isCommandChecked(CommandId id, const FrameState& state);

// Carries out `id` on `target` when its rule allows it in `state`; false when
// the command is unknown or disabled (then nothing happens).
bool dispatchFrameCommand(CommandId id, const FrameState& state, FrameCommands& target);
