#include "mainwnd/CommandTable.h"

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
    {CommandId::Connect, &F::onConnect, lineIdleOrComing, nullptr},
    {CommandId::HangUp, &F::onHangUp, lineInCallOrRedial, nullptr},
    {CommandId::Playback, &F::onPlayback, nullptr, nullptr},
    {CommandId::SelectModem, &F::onSelectModem, modemChoosable, nullptr},
    {CommandId::OpenChannel, &F::onOpenChannel, channelsOpenable, nullptr},
    {CommandId::VideoWindow, &F::onVideoWindow, portOpen, nullptr},
    {CommandId::ChangeSize, &F::onChangeSize, windowsOpen, sizeMode},
    {CommandId::Arrange, &F::arrangeWindows, windowsOpen, nullptr},
    {CommandId::PhoneBook, &F::onPhoneBook, nullptr, nullptr},
    {CommandId::Toolbar, &F::onToolbar, nullptr, barsShown},
    {CommandId::RecordPath, &F::onRecordPath, nullptr, nullptr},
    {CommandId::Help, &F::onHelp, nullptr, nullptr},
    {CommandId::SetupPassword, &F::onSetupPassword, nullptr, nullptr},
    {CommandId::Options, &F::onOptions, nullptr, nullptr},
    {CommandId::LoginError, &F::onLoginError, nullptr, nullptr},
    {CommandId::Listen, &F::onListen, lineClosed, nullptr},
    {CommandId::StopAlarm, &F::onStopAlarm, alarmPlaying, nullptr},
    {CommandId::EventNotify, &F::onEventNotify, nullptr, nullptr},
    // The remote control checks the connection itself when it runs.
    {CommandId::RemoteControl, &F::onRemoteControl, nullptr, nullptr},
    {CommandId::CompressionError, &F::onCompressionError, nullptr, nullptr},
    {CommandId::AppAbout, &F::onAbout, nullptr, nullptr},
    {CommandId::AppExit, &F::onExit, nullptr, nullptr},
    {CommandId::Unattended, &F::onUnattended, nullptr, nullptr},
    {CommandId::PatrolSetup, &F::onPatrolSetup, nullptr, nullptr},
    {CommandId::PatrolRun, &F::onPatrolRun, patrolStartable, nullptr},
    {CommandId::PatrolStop, &F::onPatrolStop, patrolRunning, nullptr},
    {CommandId::PatrolReport, &F::onPatrolReport, nullptr, nullptr},
    {CommandId::NetworkModems, &F::onNetworkModems, noCall, nullptr},
};

} // namespace

std::span<const CommandEntry> frameCommandTable() {
    return kTable;
}

const CommandEntry* findFrameCommand(CommandId id) {
    const auto* it =
        std::find_if(std::begin(kTable), std::end(kTable), [id](const auto& e) { return e.id == id; });
    return it == std::end(kTable) ? nullptr : it;
}

bool isCommandEnabled(CommandId id, const FrameState& state) {
    const CommandEntry* entry = findFrameCommand(id);
    return entry && (!entry->enabled || entry->enabled(state));
}

bool commandWaitsForModems(CommandId id) {
    return id == CommandId::Connect || id == CommandId::Listen || id == CommandId::SelectModem ||
           id == CommandId::NetworkModems;
}

bool isCommandChecked(CommandId id, const FrameState& state) {
    const CommandEntry* entry = findFrameCommand(id);
    return entry && entry->checked && entry->checked(state);
}

bool dispatchFrameCommand(CommandId id, const FrameState& state, FrameCommands& target) {
    if (!isCommandEnabled(id, state))
        return false;
    (target.*(findFrameCommand(id)->handler))();
    return true;
}
