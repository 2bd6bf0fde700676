#pragma once

// The application object: the start-up sequence (one running instance, the
// application password, the splash picture, the main window shown
// maximised), the commands it handles for the main window (About, Exit,
// Setup password) and everything the main window is made with: the settings
// store, the clip index, the channel table, the telephony service, the
// decompressors and the dialogs.
//
// Start order: the splash switch from the command line; the running instance
// named by "Setting"/"Class Name" is asked to come forward (then this start
// fails, showing nothing); the password is asked when one is stored; the main
// window is made and started (it shows the splash); its socket name is
// stored as "Class Name"; it is shown maximised.

#include "mainwnd/FrameDialogs.h"

#include <QStringList>

#include <memory>

class AppStore;
class CallLog;
class ChannelTable;
class ClipIndex;
class ClipRecoveryTask;
class DecompressorFactory;
class DialogService;
class MainFrame;
class SingleInstance;
class QtFrameDialogs;

namespace tel {
class TelephonyService;
}

class DialscopeApp final : public AppCommands {
public:
    // What tests replace; the defaults are the program's own.
    struct Options {
        DialogService* dialogs = nullptr;           // QtDialogService when null
        tel::TelephonyService* telephony = nullptr; // HayesTelephony when null
        FrameDialogs* frameDialogs = nullptr;       // the real dialogs when null
        QString instanceName;                       // SingleInstance::defaultName() when empty
        bool showWindow = true;
        // A run without the operator's interface (`--patrol-once`): the
        // start-up password is not asked, since nothing it guards is shown:
        // the window stays hidden and a second start's request to bring it
        // forward is refused.
        bool unattended = false;
    };

    DialscopeApp();
    explicit DialscopeApp(Options options);
    ~DialscopeApp() override;
    DialscopeApp(const DialscopeApp&) = delete;
    DialscopeApp& operator=(const DialscopeApp&) = delete;

    // The start-up sequence; false when this process is to end at once (another
    // instance runs, or the password was not given).
    bool Start(const QStringList& arguments);

    MainFrame* frame() const { return m_frame.get(); }
    AppStore& store() { return *m_store; }
    ChannelTable& channels() { return *m_channels; }

    // Brings the main window forward (restoring it when minimised), with the
    // dialog active in it on top.
    void raiseMainWindow();

    // AppCommands
    void onAppAbout() override;
    void onAppExit() override;
    void onSetupPassword() override;
    void ShowSplash(QWidget* parent) override;

private:
    // Asks again for `window` to be activated, every little while, until it
    // is active or `tries` requests went unanswered.
    static void activateAgain(QWidget* window, int tries);

    Options m_options;
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<ChannelTable> m_channels;
    std::unique_ptr<ClipIndex> m_clips;
    std::unique_ptr<DialogService> m_ownedDialogs;
    std::unique_ptr<tel::TelephonyService> m_ownedTelephony;
    std::unique_ptr<DecompressorFactory> m_decompressors;
    std::unique_ptr<QtFrameDialogs> m_ownedFrameDialogs;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<CallLog> m_callLog; // before the window, which files calls in it until it goes
    std::unique_ptr<MainFrame> m_frame;
    std::unique_ptr<ClipRecoveryTask> m_recovery;
};
