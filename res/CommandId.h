#pragma once

// Every command identifier of the program, each number once: the main
// window's menus, toolbar and keys, the commands the connection posts, the
// channel windows' and the player's toolbars, and the keyboard commands of
// the view area.
//
// How it works: one scoped enum, so a command travels as a CommandId and never
// mixes with other numbers. The numbers are fixed: stored values and peers
// compare them, and the string table files each command's prompt under the
// same number (StringTable.h converts with stringIdOf). Numbers from 33000 on
// are the program's own additions. Pure C++, usable from every layer.

enum class CommandId : int {
    Connect = 32771,
    HangUp = 32772, // also posted by the connection: the site asked to hang up
    Playback = 32773,
    ChannelRecord = 32774, // also posted to a new window of an answered call
    ChannelStop = 32775,
    ChannelFix = 32776,
    ChannelClose = 32777,
    SelectModem = 32778,
    OpenChannel = 32779, // also posted: the site asks the operator to choose a channel
    VideoWindow = 32780,
    ChangeSize = 32781,
    Arrange = 32783,
    PhoneBook = 32784,
    Toolbar = 32785,
    RecordPath = 32786,
    Help = 32787,
    SetupPassword = 32788,
    ChannelSnapshot = 32789, // also posted to a new window of an answered call, after ChannelRecord
    Options = 32790,
    LoginError = 32791, // posted: the site rejected the login
    Listen = 32792,
    StopAlarm = 32793,
    EventNotify = 32794,
    RemoteControl = 32796,
    CompressionError = 32798, // posted: no decompressor fits the site's video
    // The player's toolbar.
    PlayerPlay = 32800,
    PlayerPause = 32801,
    PlayerStop = 32802,
    PlayerFirstFrame = 32803,
    PlayerRewind = 32804,
    PlayerForward = 32805,
    PlayerLastFrame = 32806,
    PlayerIncrease = 32807,
    PlayerDecrease = 32808,
    PlayerSnapshot = 32809,
    // The view area's keys and the call views (not in the frame command table).
    ChannelAlone = 33000,     // F11: the active channel alone, or back to the layout
    ActivateChannel1 = 33001, // Ctrl+1 ... Ctrl+9: 33001 ... 33009
    ActivateChannel9 = 33009,
    ActiveRecord = 33010,   // Ctrl+R
    ActiveStop = 33011,     // Ctrl+T
    ActiveSnapshot = 33012, // Ctrl+P
    CallPanel = 33013,      // View > Call panel
    CallLog = 33014,        // View > Call log
    // Unattended operation and patrols.
    Unattended = 33020, // Setup > Unattended operation
    PatrolSetup = 33021,
    PatrolRun = 33022,
    PatrolStop = 33023,
    PatrolReport = 33024,
    NetworkModems = 33040,    // Connect > Network modems (also without any device)
    PlayerExportClip = 33050, // the player's right-click menu
    AppAbout = 57664,
    AppExit = 57665,
};

// The number of a command, where one is stored or shown as a plain integer.
constexpr int commandNumber(CommandId id) {
    return static_cast<int>(id);
}

// Ctrl+1 ... Ctrl+9: the command that activates the channel window at
// `place` (1 ... 9), and back from such a command to its place (0 for any
// other command).
constexpr int kActivatePlaces = 9;
constexpr CommandId activateChannelCommand(int place) {
    return CommandId(commandNumber(CommandId::ActivateChannel1) + place - 1);
}
constexpr int activatedPlace(CommandId id) {
    const int place = commandNumber(id) - commandNumber(CommandId::ActivateChannel1) + 1;
    return place >= 1 && place <= kActivatePlaces ? place : 0;
}
