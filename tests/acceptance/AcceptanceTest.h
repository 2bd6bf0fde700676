#pragma once

// The common ground of every whole-program scenario: a sandbox folder, a
// private X server, the simulated site, the program under test and the tools
// to drive and inspect them, plus the operator moves every scenario makes
// (menu commands by mnemonic, waiting for a dialog or a message box).
//
// How it works: SetUp starts the X server; a scenario then starts the site
// (startSite) and the program (startProgram) in the order it needs. Every
// wait polls with a generous budget, so slow sanitizer builds pass too.
// TearDown ends the program, then the site, then the server (the members'
// order), and the sandbox goes last. When a scenario failed and
// DIALSCOPE_ACCEPTANCE_ARTIFACTS names a folder, every window of the program
// is saved there as a PNG first.

#include "tests/acceptance/ChannelView.h"
#include "tests/acceptance/Poll.h"
#include "tests/acceptance/ProgramUnderTest.h"
#include "tests/acceptance/Screen.h"
#include "tests/acceptance/SiteSim.h"
#include "tests/acceptance/Store.h"
#include "tests/acceptance/XServer.h"
#include "tests/acceptance/Xdo.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AcceptanceTest : public ::testing::Test {
protected:
    // Store keys the scenarios look at.
    static constexpr const char* kProfileKey = "HKCU\\software\\Kestrel-Lookout\\Dialscope";
    static constexpr const char* kStoreRoot = "HKCU\\software\\Kestrel-Lookout";

    AcceptanceTest();
    void SetUp() override;
    void TearDown() override;

    // Starts the simulated site with short modem delays and `options`.
    bool startSite(const std::vector<std::string>& options = {});
    // Starts the program (on the site's modem when one runs), sandboxed.
    bool launchProgram(const std::vector<std::string>& arguments = {});
    // launchProgram, then waits for the main window and for the splash to go.
    std::optional<WindowId> startProgram(const std::vector<std::string>& arguments = {});
    // True while the program's start-up picture is on the screen.
    bool splashShowing() const;

    // Alt+`menuKey` in the main window, then `itemKey` in the open menu.
    bool menuCommand(const std::string& menuKey, const std::string& itemKey,
                     int keyDelayMs = Xdo::kKeyDelayMs);
    // A visible window of the program (not the main window) whose title
    // matches `titleRegex` ("^Options$").
    std::optional<WindowId> waitForDialog(const std::string& titleRegex, int timeoutMs = kLongWaitMs,
                                          int stepMs = 200);
    // A message box (the program's title, a dialog window) of the program.
    std::optional<WindowId> waitForMessageBox(int timeoutMs = kLongWaitMs);
    // True when `box` shows the program's notice with exactly `text` (the
    // string-table text, line breaks included): it looks like the same notice
    // drawn apart by the same toolkit on the same display, to the pixel but
    // for the focus frame.
    bool noticeShows(WindowId box, const std::string& text);
    // Exit, the main window's top-level menu item (no dialog may be open);
    // the exit code once the process ended (sanitizer builds report leaks
    // and errors found at exit through it).
    std::optional<int> exitFromMenu();
    // Windows of the program whose title matches `titleRegex`.
    std::vector<WindowId> programWindows(const std::string& titleRegex) const;

    // Connect to local site, filled in from the keyboard, then dialled.
    void dialAndLogIn(const std::string& user = "demo", const std::string& password = "demo",
                      const std::string& number = "5551234");
    // Chooses the `index`th channel in the channel choice dialog.
    void chooseChannel(int index);
    // The main window's picture.
    QImage grabMain() const { return m_screen.grab(m_main); }
    // The channel windows' toolbars once exactly `count` of them show (fewer
    // or more when the wait ran out).
    std::vector<ChannelToolbar> waitForChannelWindows(size_t count, int timeoutMs = kLongWaitMs);
    // Dials the site, logs in and opens the first `channels` channels; the
    // windows' toolbars, top to bottom (empty when a step failed).
    std::vector<ChannelToolbar> callWithChannels(int channels);
    // Opens About from the menu and closes it again; how long it took to
    // open, or nullopt when it did not open or close.
    std::optional<double> aboutRoundTrip();

    // The sandbox's record folder: the program's working folder.
    std::string recordFolder() const { return m_program->workingDir(); }

    TempDir m_sandbox{"dialscope-accept"};
    XServer m_server;
    Xdo m_xdo{m_server};
    Screen m_screen{m_server};
    std::unique_ptr<SiteSim> m_site;
    std::unique_ptr<ProgramUnderTest> m_program;
    std::unique_ptr<Store> m_store;
    WindowId m_main = 0;
    // Whether each of the program's windows is override-redirect (a popup):
    // asked once per window, since asking is a process per window and a
    // flooded call has dozens of windows.
    std::map<WindowId, bool> m_popup;
};
