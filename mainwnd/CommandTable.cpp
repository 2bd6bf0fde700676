#include "CommandTable.h"

#include <algorithm>
#include <iterator>

namespace {

// Hang up also ends a redial series that waits for its next attempt.
bool lineInCallOrRedial(const FrameState& s) {
    return (s.lineOpen && s.callPresent) || s.redialPending;
}
bool lineIdle(const FrameState& s) {
    return s.lineOpen && !s.callPresent;
}
// Commands that need a line are taken while the modems are looked for; they
// run (asking their rule again) once the search is over.
bool lineIdleOrComing(const FrameState& s) {
    return lineIdle(s) || s.discovering;
}
// A round starts only on a free, listening line and never beside another.
bool patrolStartable(const FrameState& s) {
    return lineIdle(s) && !s.patrolRunning && !s.redialPending;
}
bool patrolRunning(const FrameState& s) {
    return s.patrolRunning;
}
bool lineClosed(const FrameState& s) {
    return !s.lineOpen;
}
bool modemChoosable(const FrameState& s) {
    return (s.deviceCount > 0 || s.discovering) && !s.callPresent;
}
// The network modem list is edited while no call is up, also before the
// first device exists (Select modem needs one).
bool noCall(const FrameState& s) {
    return !s.callPresent;
}
bool channelsOpenable(const FrameState& s) {
    return s.portOpen && s.mayOpen && s.channelsListed;
}
bool portOpen(const FrameState& s) {
    return s.portOpen;
}
bool windowsOpen(const FrameState& s) {
    return s.windowCount != 0;
}
bool sizeMode(const FrameState& s) {
    return s.sizeMode;
}
bool barsShown(const FrameState& s) {
    return s.barsShown;
}
bool alarmPlaying(const FrameState& s) {
    return s.alarmPlaying;
}

using F = FrameCommands;

constexpr CommandEntry kTable[] = {
    {ID_CONNECT, &F::onConnect, lineIdleOrComing, nullptr},
    {ID_HANG_UP, &F::onHangUp, lineInCallOrRedial, nullptr},
    {ID_PLAYBACK, &F::onPlayback, nullptr, nullptr},
    {ID_SELECT_MODEM, &F::onSelectModem, modemChoosable, nullptr},
    {ID_OPEN_CHANNEL, &F::onOpenChannel, channelsOpenable, nullptr},
    {ID_VIDEO_WINDOW, &F::onVideoWindow, portOpen, nullptr},
    {ID_CHANGE_SIZE, &F::onChangeSize, windowsOpen, sizeMode},
    {ID_ARRANGE, &F::arrangeWindows, windowsOpen, nullptr},
    {ID_PHONE_BOOK, &F::onPhoneBook, nullptr, nullptr},
    {ID_TOOLBAR, &F::onToolbar, nullptr, barsShown},
    {ID_RECORD_PATH, &F::onRecordPath, nullptr, nullptr},
    {ID_HELP, &F::onHelp, nullptr, nullptr},
    {ID_SETUP_PASSWORD, &F::onSetupPassword, nullptr, nullptr},
    {ID_OPTIONS, &F::onOptions, nullptr, nullptr},
    {ID_LOGIN_ERROR, &F::onLoginError, nullptr, nullptr},
    {ID_LISTEN, &F::onListen, lineClosed, nullptr},
    {ID_STOP_ALARM, &F::onStopAlarm, alarmPlaying, nullptr},
    {ID_EVENT_NOTIFY, &F::onEventNotify, nullptr, nullptr},
    // The remote control checks the connection itself when it runs.
    {ID_REMOTE_CONTROL, &F::onRemoteControl, nullptr, nullptr},
    {ID_COMPRESSION_ERROR, &F::onCompressionError, nullptr, nullptr},
    {ID_APP_ABOUT, &F::onAbout, nullptr, nullptr},
    {ID_APP_EXIT, &F::onExit, nullptr, nullptr},
    {ID_UNATTENDED, &F::onUnattended, nullptr, nullptr},
    {ID_PATROL_SETUP, &F::onPatrolSetup, nullptr, nullptr},
    {ID_PATROL_RUN, &F::onPatrolRun, patrolStartable, nullptr},
    {ID_PATROL_STOP, &F::onPatrolStop, patrolRunning, nullptr},
    {ID_PATROL_REPORT, &F::onPatrolReport, nullptr, nullptr},
    {ID_NETWORK_MODEMS, &F::onNetworkModems, noCall, nullptr},
};

} // namespace

std::span<const CommandEntry> frameCommandTable() {
    return kTable;
}

const CommandEntry* findFrameCommand(int id) {
    const auto* it =
        std::find_if(std::begin(kTable), std::end(kTable), [id](const auto& e) { return e.id == id; });
    return it == std::end(kTable) ? nullptr : it;
}

bool isCommandEnabled(int id, const FrameState& state) {
    const CommandEntry* entry = findFrameCommand(id);
    return entry && (!entry->enabled || entry->enabled(state));
}

bool commandWaitsForModems(int id) {
    return id == ID_CONNECT || id == ID_LISTEN || id == ID_SELECT_MODEM || id == ID_NETWORK_MODEMS;
}

bool isCommandChecked(int id, const FrameState& state) {
    const CommandEntry* entry = findFrameCommand(id);
    return entry && entry->checked && entry->checked(state);
}

bool dispatchFrameCommand(int id, const FrameState& state, FrameCommands& target) {
    if (!isCommandEnabled(id, state))
        return false;
    (target.*(findFrameCommand(id)->handler))();
    return true;
}
