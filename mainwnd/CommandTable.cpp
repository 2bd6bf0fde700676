#include "mainwnd/CommandTable.h"

#include <algorithm>
#include <iterator>

namespace {

// Hang up also ends a redial series that waits for its next attempt.
bool LineInCallOrRedial(const FrameState& s) {
    return (s.lineOpen && s.callPresent) || s.redialPending;
}
bool LineIdle(const FrameState& s) {
    return s.lineOpen && !s.callPresent;
}
// Commands that need a line are taken while the modems are looked for; they
// run (asking their rule again) once the search is over.
bool LineIdleOrComing(const FrameState& s) {
    return LineIdle(s) || s.discovering;
}
// A round starts only on a free, listening line and never beside another.
bool PatrolStartable(const FrameState& s) {
    return LineIdle(s) && !s.patrolRunning && !s.redialPending;
}
bool PatrolRunning(const FrameState& s) {
    return s.patrolRunning;
}
bool LineClosed(const FrameState& s) {
    return !s.lineOpen;
}
bool ModemChoosable(const FrameState& s) {
    return (s.deviceCount > 0 || s.discovering) && !s.callPresent;
}
// The network modem list is edited while no call is up, also before the
// first device exists (Select modem needs one).
bool NoCall(const FrameState& s) {
    return !s.callPresent;
}
bool ChannelsOpenable(const FrameState& s) {
    return s.portOpen && s.mayOpen && s.channelsListed;
}
bool PortOpen(const FrameState& s) {
    return s.portOpen;
}
bool WindowsOpen(const FrameState& s) {
    return s.windowCount != 0;
}
bool SizeMode(const FrameState& s) {
    return s.sizeMode;
}
bool BarsShown(const FrameState& s) {
    return s.barsShown;
}
bool AlarmPlaying(const FrameState& s) {
    return s.alarmPlaying;
}

using F = FrameCommands;

constexpr CommandEntry kTable[] = {
    {ID_CONNECT, &F::OnConnect, LineIdleOrComing, nullptr},
    {ID_HANG_UP, &F::OnHangUp, LineInCallOrRedial, nullptr},
    {ID_PLAYBACK, &F::OnPlayback, nullptr, nullptr},
    {ID_SELECT_MODEM, &F::OnSelectModem, ModemChoosable, nullptr},
    {ID_OPEN_CHANNEL, &F::OnOpenChannel, ChannelsOpenable, nullptr},
    {ID_VIDEO_WINDOW, &F::OnVideoWindow, PortOpen, nullptr},
    {ID_CHANGE_SIZE, &F::OnChangeSize, WindowsOpen, SizeMode},
    {ID_ARRANGE, &F::OnArrange, WindowsOpen, nullptr},
    {ID_PHONE_BOOK, &F::OnPhoneBook, nullptr, nullptr},
    {ID_TOOLBAR, &F::OnToolbar, nullptr, BarsShown},
    {ID_RECORD_PATH, &F::OnRecordPath, nullptr, nullptr},
    {ID_HELP, &F::OnHelp, nullptr, nullptr},
    {ID_SETUP_PASSWORD, &F::OnSetupPassword, nullptr, nullptr},
    {ID_OPTIONS, &F::OnOptions, nullptr, nullptr},
    {ID_LOGIN_ERROR, &F::OnLoginError, nullptr, nullptr},
    {ID_LISTEN, &F::OnListen, LineClosed, nullptr},
    {ID_STOP_ALARM, &F::OnStopAlarm, AlarmPlaying, nullptr},
    {ID_EVENT_NOTIFY, &F::OnEventNotify, nullptr, nullptr},
    // The remote control checks the connection itself when it runs.
    {ID_REMOTE_CONTROL, &F::OnRemoteControl, nullptr, nullptr},
    {ID_COMPRESSION_ERROR, &F::OnCompressionError, nullptr, nullptr},
    {ID_APP_ABOUT, &F::OnAbout, nullptr, nullptr},
    {ID_APP_EXIT, &F::OnExit, nullptr, nullptr},
    {ID_UNATTENDED, &F::OnUnattended, nullptr, nullptr},
    {ID_PATROL_SETUP, &F::OnPatrolSetup, nullptr, nullptr},
    {ID_PATROL_RUN, &F::OnPatrolRun, PatrolStartable, nullptr},
    {ID_PATROL_STOP, &F::OnPatrolStop, PatrolRunning, nullptr},
    {ID_PATROL_REPORT, &F::OnPatrolReport, nullptr, nullptr},
    {ID_NETWORK_MODEMS, &F::OnNetworkModems, NoCall, nullptr},
};

} // namespace

std::span<const CommandEntry> FrameCommandTable() {
    return kTable;
}

const CommandEntry* FindFrameCommand(int id) {
    const auto* it =
        std::find_if(std::begin(kTable), std::end(kTable), [id](const auto& e) { return e.id == id; });
    return it == std::end(kTable) ? nullptr : it;
}

bool IsCommandEnabled(int id, const FrameState& state) {
    const CommandEntry* entry = FindFrameCommand(id);
    return entry && (!entry->enabled || entry->enabled(state));
}

bool CommandWaitsForModems(int id) {
    return id == ID_CONNECT || id == ID_LISTEN || id == ID_SELECT_MODEM || id == ID_NETWORK_MODEMS;
}

bool IsCommandChecked(int id, const FrameState& state) {
    const CommandEntry* entry = FindFrameCommand(id);
    return entry && entry->checked && entry->checked(state);
}

bool DispatchFrameCommand(int id, const FrameState& state, FrameCommands& target) {
    if (!IsCommandEnabled(id, state))
        return false;
    (target.*(FindFrameCommand(id)->handler))();
    return true;
}
