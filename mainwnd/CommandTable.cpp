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
    {CommandId::Connect, &F::OnConnect, LineIdleOrComing, nullptr},
    {CommandId::HangUp, &F::OnHangUp, LineInCallOrRedial, nullptr},
    {CommandId::Playback, &F::OnPlayback, nullptr, nullptr},
    {CommandId::SelectModem, &F::OnSelectModem, ModemChoosable, nullptr},
    {CommandId::OpenChannel, &F::OnOpenChannel, ChannelsOpenable, nullptr},
    {CommandId::VideoWindow, &F::OnVideoWindow, PortOpen, nullptr},
    {CommandId::ChangeSize, &F::OnChangeSize, WindowsOpen, SizeMode},
    {CommandId::Arrange, &F::OnArrange, WindowsOpen, nullptr},
    {CommandId::PhoneBook, &F::OnPhoneBook, nullptr, nullptr},
    {CommandId::Toolbar, &F::OnToolbar, nullptr, BarsShown},
    {CommandId::RecordPath, &F::OnRecordPath, nullptr, nullptr},
    {CommandId::Help, &F::OnHelp, nullptr, nullptr},
    {CommandId::SetupPassword, &F::OnSetupPassword, nullptr, nullptr},
    {CommandId::Options, &F::OnOptions, nullptr, nullptr},
    {CommandId::LoginError, &F::OnLoginError, nullptr, nullptr},
    {CommandId::Listen, &F::OnListen, LineClosed, nullptr},
    {CommandId::StopAlarm, &F::OnStopAlarm, AlarmPlaying, nullptr},
    {CommandId::EventNotify, &F::OnEventNotify, nullptr, nullptr},
    // The remote control checks the connection itself when it runs.
    {CommandId::RemoteControl, &F::OnRemoteControl, nullptr, nullptr},
    {CommandId::CompressionError, &F::OnCompressionError, nullptr, nullptr},
    {CommandId::AppAbout, &F::OnAbout, nullptr, nullptr},
    {CommandId::AppExit, &F::OnExit, nullptr, nullptr},
    {CommandId::Unattended, &F::OnUnattended, nullptr, nullptr},
    {CommandId::PatrolSetup, &F::OnPatrolSetup, nullptr, nullptr},
    {CommandId::PatrolRun, &F::OnPatrolRun, PatrolStartable, nullptr},
    {CommandId::PatrolStop, &F::OnPatrolStop, PatrolRunning, nullptr},
    {CommandId::PatrolReport, &F::OnPatrolReport, nullptr, nullptr},
    {CommandId::NetworkModems, &F::OnNetworkModems, NoCall, nullptr},
};

} // namespace

std::span<const CommandEntry> FrameCommandTable() {
    return kTable;
}

const CommandEntry* FindFrameCommand(CommandId id) {
    const auto* it =
        std::find_if(std::begin(kTable), std::end(kTable), [id](const auto& e) { return e.id == id; });
    return it == std::end(kTable) ? nullptr : it;
}

bool IsCommandEnabled(CommandId id, const FrameState& state) {
    const CommandEntry* entry = FindFrameCommand(id);
    return entry && (!entry->enabled || entry->enabled(state));
}

bool CommandWaitsForModems(CommandId id) {
    return id == CommandId::Connect || id == CommandId::Listen || id == CommandId::SelectModem ||
           id == CommandId::NetworkModems;
}

bool IsCommandChecked(CommandId id, const FrameState& state) {
    const CommandEntry* entry = FindFrameCommand(id);
    return entry && entry->checked && entry->checked(state);
}

bool DispatchFrameCommand(CommandId id, const FrameState& state, FrameCommands& target) {
    if (!IsCommandEnabled(id, state))
        return false;
    (target.*(FindFrameCommand(id)->handler))();
    return true;
}
