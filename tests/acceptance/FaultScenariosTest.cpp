// The built program when things go wrong, and at start-up: a rejected login,
// the site hanging up or closing a channel, a busy number, the modem pulled
// out mid-call, a second start and the start-up password. Each scenario
// checks what the operator sees and what is left on disk.
#include "tests/acceptance/AcceptanceTest.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/ChannelView.h"

#include <QImage>
#include <QPoint>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr const char* kConnectTitle = "^Connect to local site$";
constexpr const char* kAboutTitle = "^About Dialscope";
constexpr const char* kLoginError = "\n\n ** Login Error ** \n\n User name or password invalid.\n\n";
constexpr const char* kPasswordNotCorrect = "\n\n Password is not correct! \n\n";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

class FaultScenario : public AcceptanceTest {
protected:
    std::string clipIndexKey() const { return std::string(kStoreRoot) + "\\RemoteRecord"; }

    // A text of the program's own settings, which are stored with their
    // terminating zero.
    std::optional<std::string> profileText(const std::string& section, const std::string& value) const {
        std::optional<std::string> text = m_store->text(std::string(kProfileKey) + "\\" + section, value);
        if (text && !text->empty() && text->back() == '\0')
            text->pop_back();
        return text;
    }

    // Clicks Record on `window` and waits for its new clip to grow; the
    // clip's file name.
    std::string record(const ChannelToolbar& window) {
        const std::vector<std::string> before = filesWithExtension(recordFolder(), ".avi");
        if (!m_xdo.click(m_main, window.record.x(), window.record.y()))
            return {};
        std::string clip;
        waitUntil(
            [&] {
                for (const std::string& name : filesWithExtension(recordFolder(), ".avi"))
                    if (std::find(before.begin(), before.end(), name) == before.end() &&
                        fileSize(recordFolder() + "/" + name) > 20000)
                        clip = name;
                return !clip.empty();
            },
            kLongWaitMs, 250);
        return clip;
    }

    // A channel window shows at `window`'s place: its Close cross (red
    // whether it records or not) and a colourful picture.
    static bool windowShown(const QImage& image, const ChannelToolbar& window) {
        return hasRedMarkAt(image, window.close) && Screen::colourfulShare(image, window.picture()) > 0.15;
    }

    bool waitForWindowsGone(const std::vector<ChannelToolbar>& windows) {
        return waitUntil(
            [&] {
                const QImage image = grabMain();
                return std::none_of(windows.begin(), windows.end(),
                                    [&](const ChannelToolbar& window) { return windowShown(image, window); });
            },
            kLongWaitMs, 250);
    }

    // A clip that was finished: its image file, a video file ffprobe reads
    // to the end, and its record in the clip index, closed and unread.
    void expectFinishedClip(const std::string& clip, int channel) {
        SCOPED_TRACE(clip);
        ASSERT_EQ(clip.size(), 22u);
        const std::string stem = clip.substr(0, 18);
        EXPECT_GT(fileSize(recordFolder() + "/" + stem + ".img"), 40u);
        std::map<std::string, std::string> video = probeVideo(recordFolder() + "/" + clip);
        EXPECT_FALSE(video["codec_name"].empty());
        // Read to the end: the first frame and those after it.
        EXPECT_GE(std::atoi(video["nb_read_frames"].c_str()), 2);
        const std::string entry = clipIndexKey() + "\\" + clip;
        EXPECT_EQ(m_store->text(entry, "FileName"), clip) << m_store->exportTree(clipIndexKey());
        EXPECT_EQ(m_store->text(entry, "ImageName"), stem + ".img");
        EXPECT_EQ(m_store->dword(entry, "Channel"), channel);
        EXPECT_EQ(m_store->dword(entry, "Open"), 0);
        EXPECT_EQ(m_store->text(entry, "Path"), recordFolder() + "/");
        const std::optional<std::string> endDate = m_store->text(entry, "EDate");
        const std::optional<std::string> endTime = m_store->text(entry, "ETime");
        EXPECT_EQ(endDate.value_or("").size(), 10u);
        EXPECT_EQ(endTime.value_or("").size(), 5u);
    }

    // The record folder holds exactly these clips (.avi and .img), nothing
    // half-written beside them.
    void expectOnlyClips(const std::vector<std::string>& clips) {
        std::vector<std::string> expected;
        for (const std::string& clip : clips) {
            expected.push_back(clip);
            expected.push_back(clip.substr(0, 18) + ".img");
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(filesIn(recordFolder()), expected);
        EXPECT_EQ(m_store->subkeys(clipIndexKey()).size(), clips.size());
    }

    // The line is open and answers: a call from the site is picked up.
    void expectAnswersCalls() {
        ASSERT_TRUE(waitUntil([&] { return m_site->send("ring").value_or("") == "OK"; }, kLongWaitMs, 500))
            << m_site->log();
        EXPECT_TRUE(m_site->waitForLog({"\"event\":\"call\"", "\"action\":\"answer\""})) << m_site->log();
    }

    // No message box, no dialog: only the main window (and nothing modal
    // in front of it).
    bool onlyMainWindow() {
        std::vector<WindowId> titled;
        for (WindowId window : m_xdo.windowsOf(m_program->pid()))
            if (window != m_main && !m_xdo.title(window).empty())
                titled.push_back(window);
        return titled.empty();
    }

    // The main window still takes commands: About opens and closes again.
    void expectMainWindowResponds() { ASSERT_TRUE(aboutRoundTrip()) << "About does not open and close"; }
};

TEST_F(FaultScenario, RejectedLoginIsReportedEndsTheCallAndTheLineListensAgain) {
    ASSERT_TRUE(startSite({"--password", "other"}));
    ASSERT_TRUE(startProgram());

    ASSERT_NO_FATAL_FAILURE(dialAndLogIn("demo", "wrong", "5551234"));
    const std::optional<WindowId> box = waitForMessageBox();
    ASSERT_TRUE(box) << "the rejection is not reported";
    EXPECT_TRUE(noticeShows(*box, kLoginError));
    // The call is over before the operator even closes the box.
    EXPECT_TRUE(m_site->waitForLog({"\"event\":\"call\"", "\"action\":\"ended\""})) << m_site->log();
    ASSERT_TRUE(m_xdo.key(*box, {"Return"}));
    EXPECT_TRUE(waitUntil([&] { return onlyMainWindow(); }, kShortWaitMs));
    EXPECT_TRUE(findChannelToolbars(grabMain()).empty());

    // The site saw the typed credentials and refused them; nothing else was
    // opened or recorded, and the connect dialog kept what was typed.
    EXPECT_TRUE(m_site->waitForLog({"\"name\":\"Login\"", "\"accepted\":false"}, kShortWaitMs));
    EXPECT_FALSE(contains(m_site->log(), "\"name\":\"OpenChannel\""));
    EXPECT_EQ(profileText("Call", "User"), "demo");
    EXPECT_EQ(profileText("Call", "PassWord"), "wrong");
    EXPECT_EQ(profileText("Call", "Dial"), "5551234");
    expectOnlyClips({});

    ASSERT_NO_FATAL_FAILURE(expectAnswersCalls());
}

TEST_F(FaultScenario, SiteRejectingTheLoginMidCallFinishesTheRecording) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    const std::vector<ChannelToolbar> windows = callWithChannels(1);
    ASSERT_EQ(windows.size(), 1u);
    const std::string clip = record(windows[0]);
    ASSERT_FALSE(clip.empty());

    ASSERT_EQ(m_site->send("event login-rejected"), "OK");
    const std::optional<WindowId> box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_TRUE(noticeShows(*box, kLoginError));
    ASSERT_TRUE(m_xdo.key(*box, {"Return"}));
    EXPECT_TRUE(waitForWindowsGone(windows));
    expectFinishedClip(clip, 1);
    expectOnlyClips({clip});
}

TEST_F(FaultScenario, SiteHangingUpClosesTheWindowsAndFinishesEveryRecording) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    const std::vector<ChannelToolbar> windows = callWithChannels(2);
    ASSERT_EQ(windows.size(), 2u);
    const std::string first = record(windows[0]);
    ASSERT_FALSE(first.empty());
    const std::string second = record(windows[1]);
    ASSERT_FALSE(second.empty());

    ASSERT_EQ(m_site->send("event hangup-request"), "OK");
    EXPECT_TRUE(waitForWindowsGone(windows));
    EXPECT_TRUE(m_site->waitForLog({"\"event\":\"call\"", "\"action\":\"ended\""})) << m_site->log();
    // The site asked for it: nothing to tell the operator.
    EXPECT_TRUE(onlyMainWindow());
    EXPECT_LT(Screen::colourfulShare(grabMain(), windows[0].picture()), 0.05);

    expectFinishedClip(first, 1);
    expectFinishedClip(second, 2);
    expectOnlyClips({std::min(first, second), std::max(first, second)});
    ASSERT_NO_FATAL_FAILURE(expectAnswersCalls());
}

TEST_F(FaultScenario, ChannelClosedBySiteShowsStopAndClosesWithoutQuestionWhileTheOtherGoesOn) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    const std::vector<ChannelToolbar> windows = callWithChannels(2);
    ASSERT_EQ(windows.size(), 2u);
    const ChannelToolbar& closed = windows[0];
    const ChannelToolbar& other = windows[1];
    const std::string clip = record(closed);
    ASSERT_FALSE(clip.empty());

    ASSERT_EQ(m_site->send("event channel-closed 1"), "OK");
    // The window stays with its last picture and the red "Stop." mark at the
    // top left of the picture.
    const QRect mark(closed.record.x() + 12, closed.record.y() - 12, 40, 18);
    auto redIn = [](const QImage& image, const QRect& area) {
        int red = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                red += image.valid(x, y) && Screen::isRed(image.pixel(x, y)) ? 1 : 0;
        return red;
    };
    EXPECT_TRUE(waitUntil([&] { return redIn(grabMain(), mark) >= 20; }, kLongWaitMs, 250))
        << "no Stop. mark";
    const QImage stopped = grabMain();
    ASSERT_TRUE(windowShown(stopped, closed));
    ASSERT_TRUE(windowShown(stopped, other));
    // The other channel goes on; the stopped one shows a still picture.
    EXPECT_TRUE(waitUntil([&] { return Screen::changedShare(stopped, grabMain(), other.picture()) > 0.01; },
                          kShortWaitMs, 250));
    EXPECT_LT(Screen::changedShare(stopped, grabMain(), closed.picture()), 0.01);

    // Close asks nothing and tells the site nothing; the recording is
    // finished with its record.
    ASSERT_TRUE(m_xdo.click(m_main, closed.close.x(), closed.close.y()));
    EXPECT_TRUE(waitForWindowsGone({closed}));
    EXPECT_TRUE(onlyMainWindow());
    EXPECT_FALSE(contains(m_site->log(), "\"name\":\"CloseChannel\""));
    expectFinishedClip(clip, 1);
    expectOnlyClips({clip});
    // The other window is still there (tiled anew) and goes on.
    const std::vector<ChannelToolbar> left = waitForChannelWindows(1);
    ASSERT_EQ(left.size(), 1u);
    const QImage after = grabMain();
    EXPECT_TRUE(waitUntil([&] { return Screen::changedShare(after, grabMain(), left[0].picture()) > 0.01; },
                          kShortWaitMs, 250));
}

TEST_F(FaultScenario, BusyNumberEndsTheDialingWindowAndTheOperatorCanDialAgain) {
    ASSERT_TRUE(startSite({"--number", "5550000=BUSY@2500"}));
    ASSERT_TRUE(startProgram());

    ASSERT_NO_FATAL_FAILURE(dialAndLogIn("demo", "demo", "5550000"));
    // The dialing window shows while the modem dials (the connect dialog
    // has closed by then), then goes by itself.
    ASSERT_TRUE(m_site->waitForLog({"\"action\":\"dial\"", "\"number\":\"5550000\""})) << m_site->log();
    EXPECT_EQ(programWindows(kConnectTitle).size(), 1u);
    EXPECT_TRUE(m_site->waitForLog({"\"event\":\"result\"", "\"text\":\"BUSY\""})) << m_site->log();
    EXPECT_TRUE(m_xdo.waitForNoWindow(kConnectTitle, kLongWaitMs));
    EXPECT_TRUE(onlyMainWindow());
    EXPECT_TRUE(findChannelToolbars(grabMain()).empty());

    ASSERT_NO_FATAL_FAILURE(dialAndLogIn("demo", "demo", "5551234"));
    ASSERT_NO_FATAL_FAILURE(chooseChannel(0));
    EXPECT_EQ(waitForChannelWindows(1).size(), 1u);
    EXPECT_EQ(profileText("Call", "Dial"), "5551234");
    expectOnlyClips({});
}

TEST_F(FaultScenario, ModemPulledOutMidCallClosesWindowsFinishesRecordingsAndListensWhenBack) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    const std::vector<ChannelToolbar> windows = callWithChannels(1);
    ASSERT_EQ(windows.size(), 1u);
    const std::string clip = record(windows[0]);
    ASSERT_FALSE(clip.empty());

    m_site->unplug();
    EXPECT_TRUE(waitForWindowsGone(windows));
    ASSERT_TRUE(m_program->running());
    EXPECT_TRUE(waitUntil([&] { return onlyMainWindow(); }, kShortWaitMs));
    ASSERT_NO_FATAL_FAILURE(expectMainWindowResponds());
    expectFinishedClip(clip, 1);
    expectOnlyClips({clip});

    // The modem comes back. With no modem left the line was closed, and it
    // stays closed until the operator chooses Listen, which finds the modem
    // again and answers calls on it.
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(menuCommand("c", "l"));
    EXPECT_TRUE(m_site->waitForLog({"\"event\":\"port\"", "\"action\":\"opened\""})) << m_site->log();
    ASSERT_NO_FATAL_FAILURE(expectAnswersCalls());
}

TEST_F(FaultScenario, SecondStartRaisesTheFirstInstanceAndItsDialogThenEnds) {
    ASSERT_TRUE(startProgram());
    // The first instance shows a modal dialog; another program's window
    // covers it and has the keyboard.
    ASSERT_TRUE(menuCommand("a", "a"));
    const std::optional<WindowId> about = waitForDialog(kAboutTitle);
    ASSERT_TRUE(about);
    ChildProcess cover({kXmessagePath, "-geometry", "1280x1024+0+0", "-title", "Cover", "cover"},
                       m_server.clientEnvironment());
    const std::optional<WindowId> coverWindow = m_xdo.waitForWindow("^Cover$");
    ASSERT_TRUE(coverWindow);
    ASSERT_TRUE(m_xdo.focus(*coverWindow));
    auto above = [&](WindowId upper, WindowId lower) {
        const std::vector<WindowId> order = m_xdo.search(".*");
        const auto u = std::find(order.begin(), order.end(), upper);
        const auto l = std::find(order.begin(), order.end(), lower);
        return u != order.end() && l != order.end() && u > l;
    };
    ASSERT_TRUE(above(*coverWindow, m_main));

    // The second start, with the same settings and sandbox.
    ProgramUnderTest second(m_server, m_sandbox.file("program"), std::string());
    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_TRUE(m_program->running());
    EXPECT_EQ(m_xdo.search("^Dialscope$").size(), 1u) << "a second main window";

    // The first instance's main window comes above the cover, and its dialog
    // in front of it with the keyboard.
    EXPECT_TRUE(waitUntil([&] { return above(m_main, *coverWindow); }, kShortWaitMs)) << "not raised";
    EXPECT_TRUE(waitUntil([&] { return above(*about, m_main); }, kShortWaitMs));
    EXPECT_TRUE(waitUntil([&] { return m_xdo.focusedWindow() == *about; }, kShortWaitMs))
        << "the keyboard stays with " << m_xdo.focusedWindow();

    // The running instance is still the one the store names: the raise
    // request reached it through that name.
    EXPECT_TRUE(profileText("Setting", "Class Name").value_or("") != "");
    ASSERT_TRUE(m_xdo.key(*about, {"Return"}));
    EXPECT_TRUE(m_xdo.waitForNoWindow(kAboutTitle));
    EXPECT_EQ(exitFromMenu(), 0);
}

TEST_F(FaultScenario, StartupPasswordSetByTheOperatorGuardsTheNextStart) {
    ASSERT_TRUE(startProgram());
    // Setup password: no password yet, so the setup dialog opens at once.
    ASSERT_TRUE(menuCommand("s", "w"));
    const std::optional<WindowId> setup = waitForDialog("^Setup password$");
    ASSERT_TRUE(setup);
    ASSERT_FALSE(waitForDialog("^Enter password$", 500));
    ASSERT_TRUE(m_xdo.key(*setup, {"ctrl+a"}));
    ASSERT_TRUE(m_xdo.type(*setup, "guard"));
    for (int field = 0; field < 2; ++field) {
        ASSERT_TRUE(m_xdo.key(*setup, {"Tab", "ctrl+a"}));
        ASSERT_TRUE(m_xdo.type(*setup, "s3cret"));
    }
    ASSERT_TRUE(m_xdo.key(*setup, {"Return"}));
    EXPECT_TRUE(m_xdo.waitForNoWindow("^Setup password$"));
    EXPECT_EQ(profileText("Key", "User"), "guard");
    EXPECT_EQ(profileText("Key", "PassWord"), "s3cret");
    ASSERT_EQ(exitFromMenu(), 0);

    // The next start asks first: no main window while the prompt shows; the
    // user name is filled in.
    ASSERT_TRUE(launchProgram());
    std::optional<WindowId> prompt = waitForDialog("^Enter password$");
    ASSERT_TRUE(prompt);
    EXPECT_FALSE(m_program->waitForMainWindow(500));

    // A wrong password is refused and the prompt stays.
    ASSERT_TRUE(m_xdo.key(*prompt, {"ctrl+a"}));
    ASSERT_TRUE(m_xdo.type(*prompt, "guess"));
    ASSERT_TRUE(m_xdo.key(*prompt, {"Return"}));
    const std::optional<WindowId> refused = waitForMessageBox();
    ASSERT_TRUE(refused);
    EXPECT_TRUE(noticeShows(*refused, kPasswordNotCorrect));
    ASSERT_TRUE(m_xdo.key(*refused, {"Return"}));
    ASSERT_TRUE(waitUntil([&] { return m_program->running() && !programWindows("^Enter password$").empty(); },
                          kShortWaitMs));
    EXPECT_FALSE(m_program->waitForMainWindow(500));

    // The right one opens the main window.
    ASSERT_TRUE(m_xdo.key(*prompt, {"ctrl+a"}));
    ASSERT_TRUE(m_xdo.type(*prompt, "s3cret"));
    ASSERT_TRUE(m_xdo.key(*prompt, {"Return"}));
    const std::optional<WindowId> main = m_program->waitForMainWindow();
    ASSERT_TRUE(main);
    m_main = *main;
    ASSERT_TRUE(waitUntil([&] { return !splashShowing(); }, kLongWaitMs));
    ASSERT_EQ(exitFromMenu(), 0);

    // Cancel at the prompt ends the program without a window or a message.
    ASSERT_TRUE(launchProgram());
    prompt = waitForDialog("^Enter password$");
    ASSERT_TRUE(prompt);
    ASSERT_TRUE(m_xdo.key(*prompt, {"Escape"}));
    EXPECT_EQ(m_program->waitForExit(), 0);
    EXPECT_TRUE(m_xdo.search("^Dialscope$").empty());
    // The password is still the one set.
    EXPECT_EQ(profileText("Key", "PassWord"), "s3cret");
}
