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
    bool discovering = false; // the modems are still being looked for
    bool redialPending = false; // a dropped call is to be dialled again
    bool patrolRunning = false; // a patrol round is under way
};

// The receiver of the commands: the main window.
class FrameCommands {
public:
    virtual ~FrameCommands() = default;
    virtual void OnConnect() = 0;
    virtual void OnHangUp() = 0;
    virtual void OnListen() = 0;
    virtual void OnPhoneBook() = 0;
    virtual void OnSelectModem() = 0;
    virtual void OnOpenChannel() = 0;
    virtual void OnVideoWindow() = 0;
    virtual void OnChangeSize() = 0;
    virtual void OnArrange() = 0;
    virtual void OnToolbar() = 0;
    virtual void OnEventNotify() = 0;
    virtual void OnPlayback() = 0;
    virtual void OnOptions() = 0;
    virtual void OnRecordPath() = 0;
    virtual void OnSetupPassword() = 0;
    virtual void OnStopAlarm() = 0;
    virtual void OnHelp() = 0;
    virtual void OnRemoteControl() = 0;
    virtual void OnLoginError() = 0;
    virtual void OnCompressionError() = 0;
    virtual void OnAbout() = 0;
    virtual void OnExit() = 0;
    virtual void OnUnattended() {}
    virtual void OnPatrolSetup() {}
    virtual void OnPatrolRun() {}
    virtual void OnPatrolStop() {}
    virtual void OnPatrolReport() {}
    virtual void OnNetworkModems() {}
};

using CommandRule = bool (*)(const FrameState&);

struct CommandEntry {
    CommandId id;
    void (FrameCommands::*handler)();
    CommandRule enabled; // null: always enabled
    CommandRule checked; // null: never checked
};

// Every command of the main window, in identifier order.
std::span<const CommandEntry> FrameCommandTable();
// The entry of `id`; null for an identifier the main window does not handle.
const CommandEntry* FindFrameCommand(CommandId id);

bool IsCommandEnabled(CommandId id, const FrameState& state);
// Commands that need a line (Connect, Listen, Select modem): while the modems
// are looked for they wait for the search instead of running.
bool CommandWaitsForModems(CommandId id);
bool IsCommandChecked(CommandId id, const FrameState& state);

// Carries out `id` on `target` when its rule allows it in `state`; false when
// the command is unknown or disabled (then nothing happens).
bool DispatchFrameCommand(CommandId id, const FrameState& state, FrameCommands& target);
