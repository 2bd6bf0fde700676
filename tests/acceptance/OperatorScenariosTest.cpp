// The operator's main journeys through the built program on a real X server:
// first start, a dialled call with three channels, a recording, a snapshot
// saved as a bitmap, playing the clip back, and a site that calls in.
#include "tests/acceptance/AcceptanceTest.h"

#include "tests/acceptance/AcceptancePaths.h"

#include <QImage>
#include <QPoint>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Dark (text) pixels in a band of a list.
int textPixels(const QImage& image, const QRect& band) {
    int dark = 0;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            dark += image.valid(x, y) && qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    return dark;
}

// The "t" (seconds since the sim started) of the first log line holding all
// of `fragments`; negative when there is none.
double logTime(const std::string& log, const std::vector<std::string>& fragments) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        bool all = true;
        for (const std::string& fragment : fragments)
            all = all && line.find(fragment) != std::string::npos;
        const size_t t = line.find("\"t\":");
        if (all && t != std::string::npos)
            return std::atof(line.c_str() + t + 4);
    }
    return -1;
}

} // namespace

class OperatorScenario : public AcceptanceTest {
protected:
    void clickMain(QPoint at) { ASSERT_TRUE(m_xdo.click(m_main, at.x(), at.y())); }

    // The "Stop sound alarm" toolbar button (fourth, after a separator):
    // colourful while enabled, grey while not.
    bool alarmButtonEnabled() {
        const QRect button(141, 30, 26, 28);
        return Screen::colourfulShare(grabMain(), button) > 0.08;
    }

    // View > Browse event notify: the number of rows (of the first two) that
    // show text; the dialog is closed again.
    int eventRowsShown() {
        if (!menuCommand("i", "e"))
            return -1;
        const std::optional<WindowId> dialog = waitForDialog("^Browse event notify$");
        if (!dialog)
            return -1;
        const QImage list = m_screen.grab(*dialog);
        int rows = 0;
        for (int top : {31, 49})
            rows += textPixels(list, QRect(14, top, 430, 14)) > 20 ? 1 : 0;
        m_xdo.key(*dialog, {"alt+x"});
        m_xdo.waitForNoWindow("^Browse event notify$");
        return rows;
    }
};

TEST_F(OperatorScenario, FirstStartShowsSplashThenMaximisedMainWindowWritesDefaultsAndExitsFromMenu) {
    ASSERT_TRUE(launchProgram());

    // The splash: a picture-only window centred on the screen, before the
    // main window shows, gone after a moment.
    // A window's type never changes: each is asked once, so the poll stays
    // quick enough to catch a splash that shows for less than a second.
    std::map<WindowId, std::string> types;
    std::optional<QRect> splash;
    bool mainBeforeSplash = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            // Both may be mapped between two polls (the program shows the
            // main window right after the splash): within one poll only a
            // main window without a splash beside it came first.
            bool normalSeen = false;
            for (WindowId window : m_xdo.windowsOf(m_program->pid())) {
                if (!types.count(window))
                    types[window] = m_xdo.property(window, "_NET_WM_WINDOW_TYPE");
                const std::string& type = types[window];
                if (type.find("_SPLASH") != std::string::npos)
                    splash = m_xdo.geometry(window);
                else if (type.find("_NORMAL") != std::string::npos)
                    normalSeen = true;
            }
            if (normalSeen && !splash)
                mainBeforeSplash = true;
            return splash.has_value();
        },
        kLongWaitMs, 20))
        << "no splash seen";
    EXPECT_FALSE(mainBeforeSplash);
    EXPECT_NEAR(splash->center().x(), XServer::kWidth / 2, 2);
    EXPECT_NEAR(splash->center().y(), XServer::kHeight / 2, 2);

    const std::optional<WindowId> main = m_program->waitForMainWindow();
    ASSERT_TRUE(main);
    m_main = *main;
    EXPECT_TRUE(waitUntil([&] { return !splashShowing(); }, kShortWaitMs)) << "the splash stays";

    EXPECT_EQ(m_xdo.title(m_main), "Dialscope");
    const std::string state = m_xdo.property(m_main, "_NET_WM_STATE");
    EXPECT_NE(state.find("_NET_WM_STATE_MAXIMIZED_VERT"), std::string::npos) << state;
    EXPECT_NE(state.find("_NET_WM_STATE_MAXIMIZED_HORZ"), std::string::npos) << state;

    // Every menu opens from its mnemonic; Escape closes it again.
    for (const char* menu : {"c", "v", "i", "l", "s", "a"}) {
        const size_t before = m_xdo.windowsOf(m_program->pid()).size();
        ASSERT_TRUE(m_xdo.key(m_main, {std::string("alt+") + menu}));
        EXPECT_TRUE(
            waitUntil([&] { return m_xdo.windowsOf(m_program->pid()).size() > before; }, kShortWaitMs, 50))
            << "menu " << menu;
        ASSERT_TRUE(m_xdo.press({"Escape", "Escape"}));
        EXPECT_TRUE(
            waitUntil([&] { return m_xdo.windowsOf(m_program->pid()).size() == before; }, kShortWaitMs, 50))
            << "menu " << menu;
    }

    // On disk: the running instance's class name, stored with its zero;
    // the sections that were only read exist but hold nothing.
    const std::string setting = std::string(kProfileKey) + "\\Setting";
    const std::optional<std::string> className = m_store->text(setting, "Class Name");
    ASSERT_TRUE(className) << m_store->exportTree(kStoreRoot);
    ASSERT_GE(className->size(), 2u);
    EXPECT_EQ(className->back(), '\0');
    EXPECT_FALSE(m_store->describe(setting, "LimitDiskSpace"));
    EXPECT_FALSE(m_store->describe(setting, "Modem"));
    const std::vector<std::string> sections = m_store->subkeys(kProfileKey);
    EXPECT_NE(std::find(sections.begin(), sections.end(), "Key"), sections.end());
    EXPECT_FALSE(m_store->describe(std::string(kProfileKey) + "\\Key", "User"));
    EXPECT_FALSE(m_store->describe(std::string(kProfileKey) + "\\Key", "PassWord"));
    const std::vector<std::string> stores = m_store->subkeys(kStoreRoot);
    EXPECT_EQ(std::find(stores.begin(), stores.end(), "RemoteRecord"), stores.end());

    // Exit, the top-level menu item: the window goes and the process ends well.
    EXPECT_EQ(exitFromMenu(), 0);
    EXPECT_TRUE(m_xdo.search("^Dialscope$").empty());
}

TEST_F(OperatorScenario, DialledCallShowsThreeTiledChannelsRecordsOneAndSavesASnapshot) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    const std::string shots = m_sandbox.file("shots");
    fs::create_directories(shots);

    // Setup > Options: auto arrange off (the second check box), so the
    // windows open cascaded and only Arrange tiles them.
    ASSERT_TRUE(menuCommand("s", "o"));
    const std::optional<WindowId> options = waitForDialog("^Options$");
    ASSERT_TRUE(options);
    ASSERT_TRUE(m_xdo.key(*options, {"Tab", "space", "alt+o"}));
    ASSERT_TRUE(m_xdo.waitForNoWindow("^Options$"));
    EXPECT_EQ(m_store->dword(std::string(kProfileKey) + "\\Setting", "VideoArrange"), 0);

    ASSERT_NO_FATAL_FAILURE(dialAndLogIn());
    // The site prompts for a channel once logged in: channel 1, then 2 and 3
    // through the Video channel menu. Each new window opens on top, at a
    // place where no window was before.
    std::vector<QPoint> opened;
    auto waitForNewWindow = [&] {
        return waitUntil(
            [&] {
                for (const ChannelToolbar& toolbar : findChannelToolbars(grabMain()))
                    if (std::find(opened.begin(), opened.end(), toolbar.record) == opened.end()) {
                        opened.push_back(toolbar.record);
                        return true;
                    }
                return false;
            },
            kLongWaitMs, 250);
    };
    ASSERT_NO_FATAL_FAILURE(chooseChannel(0));
    ASSERT_TRUE(waitForNewWindow());
    for (int index : {1, 2}) {
        ASSERT_TRUE(menuCommand("v", "o"));
        ASSERT_NO_FATAL_FAILURE(chooseChannel(index));
        ASSERT_TRUE(waitForNewWindow()) << "channel window " << index + 1;
    }
    // Cascaded: each one lower and further right than the one before.
    EXPECT_GT(opened[1].x(), opened[0].x());
    EXPECT_GT(opened[1].y(), opened[0].y());
    EXPECT_GT(opened[2].x(), opened[1].x());

    // Arrange tiles them: two in the first row, one below, side by side and
    // without overlap, each showing a colourful, moving picture.
    ASSERT_TRUE(menuCommand("v", "a"));
    const std::vector<ChannelToolbar> windows = waitForChannelWindows(3);
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows[0].record.y(), windows[1].record.y());
    EXPECT_GT(windows[1].record.x(), windows[0].picture().right());
    EXPECT_EQ(windows[2].record.x(), windows[0].record.x());
    EXPECT_GT(windows[2].record.y(), windows[0].close.y());
    const QImage before = grabMain();
    for (const ChannelToolbar& window : windows)
        EXPECT_GT(Screen::colourfulShare(before, window.picture()), 0.15);
    for (const ChannelToolbar& window : windows)
        EXPECT_TRUE(
            waitUntil([&] { return Screen::changedShare(before, grabMain(), window.picture()) > 0.01; },
                      kShortWaitMs, 250))
            << "a picture stands still";

    // Record channel 1: its Record dot goes grey while the others stay red,
    // and the clip grows in the record folder.
    const ChannelToolbar& gate = windows[0];
    clickMain(gate.record);
    EXPECT_TRUE(waitUntil([&] { return !hasRedMarkAt(grabMain(), gate.record); }, kShortWaitMs, 200));
    const QImage recording = grabMain();
    EXPECT_TRUE(hasRedMarkAt(recording, gate.close));
    EXPECT_TRUE(hasRedMarkAt(recording, windows[1].record));
    EXPECT_TRUE(hasRedMarkAt(recording, windows[2].record));
    std::string clip;
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::vector<std::string> clips = filesWithExtension(recordFolder(), ".avi");
            clip = clips.empty() ? std::string() : clips.front();
            return clips.size() == 1 && fileSize(recordFolder() + "/" + clip) > 20000;
        },
        kLongWaitMs, 250))
        << "no clip grows in " << recordFolder();

    // A snapshot of channel 1 opens a viewer titled with the channel and the
    // time; its right-click menu saves it through the file dialog.
    clickMain(gate.snapshot());
    const std::optional<WindowId> viewer = waitForDialog("^0001 Front gate -- [0-9]{2}:[0-9]{2}:[0-9]{2}$");
    ASSERT_TRUE(viewer);
    EXPECT_GT(Screen::colourfulShare(m_screen.grab(*viewer), QRect(0, 0, 320, 240)), 0.3);
    ASSERT_TRUE(m_xdo.click(*viewer, 100, 100, 3));
    ASSERT_TRUE(waitUntil([&] { return m_xdo.windowsOf(m_program->pid()).size() >= 3; }, kShortWaitMs, 50));
    ASSERT_TRUE(m_xdo.press({"Down", "Return"}));
    const std::optional<WindowId> saveAs = waitForDialog("^Save As$");
    ASSERT_TRUE(saveAs);
    const std::string bitmap = shots + "/gate.bmp";
    ASSERT_TRUE(m_xdo.key(*saveAs, {"ctrl+a"}));
    ASSERT_TRUE(m_xdo.type(*saveAs, bitmap));
    ASSERT_TRUE(m_xdo.key(*saveAs, {"Return"}));
    const std::optional<WindowId> saved = waitForMessageBox();
    ASSERT_TRUE(saved) << "no \"Save OK.\" box";
    ASSERT_TRUE(m_xdo.key(*saved, {"Return"}));
    EXPECT_TRUE(m_xdo.waitForNoWindow("^Save As$"));
    QImage savedPicture(QString::fromStdString(bitmap), "BMP");
    EXPECT_EQ(savedPicture.size(), QSize(320, 240));
    EXPECT_GT(Screen::colourfulShare(savedPicture, savedPicture.rect()), 0.3);
    EXPECT_EQ(fileSize(bitmap), 54u + 320u * 240u * 3u);

    // Stop (the main window comes forward over the viewer first), then hang
    // up: the channel windows go, the view area is empty again.
    ASSERT_TRUE(m_xdo.raise(m_main));
    clickMain(gate.stop());
    EXPECT_TRUE(waitUntil([&] { return hasRedMarkAt(grabMain(), gate.record); }, kShortWaitMs, 200));
    ASSERT_TRUE(menuCommand("c", "h"));
    EXPECT_TRUE(waitUntil([&] { return findChannelToolbars(grabMain()).empty(); }, kLongWaitMs, 250));
    EXPECT_LT(Screen::colourfulShare(grabMain(), windows[0].picture()), 0.05);

    // On disk: the clip (.avi + .img) and its record in the index.
    ASSERT_EQ(clip.size(), 22u) << clip; // stamp, channel, ".avi"
    const std::string stem = clip.substr(0, 18);
    EXPECT_EQ(stem.substr(14), "0001");
    EXPECT_EQ(filesWithExtension(recordFolder(), ".img"), std::vector<std::string>{stem + ".img"});
    EXPECT_GT(fileSize(recordFolder() + "/" + stem + ".img"), 40u);
    std::map<std::string, std::string> video = probeVideo(recordFolder() + "/" + clip);
    EXPECT_EQ(video["codec_name"], "mjpeg");
    EXPECT_EQ(video["r_frame_rate"], "2/1");
    EXPECT_EQ(video["width"], "320");
    EXPECT_GT(std::atoi(video["nb_read_frames"].c_str()), 4);
    const std::string record = std::string(kStoreRoot) + "\\RemoteRecord\\" + clip;
    EXPECT_EQ(m_store->text(record, "FileName"), clip);
    EXPECT_EQ(m_store->text(record, "ImageName"), stem + ".img");
    EXPECT_EQ(m_store->dword(record, "Channel"), 1);
    EXPECT_EQ(m_store->text(record, "Location"), "Front gate");
    EXPECT_EQ(m_store->text(record, "Path"), recordFolder() + "/");
    EXPECT_EQ(m_store->dword(record, "Open"), 0);
    // Exactly one clip was indexed.
    EXPECT_EQ(m_store->subkeys(std::string(kStoreRoot) + "\\RemoteRecord").size(), 1u);

    // The snapshot viewer is still open; Exit closes it with the program.
    EXPECT_EQ(exitFromMenu(), 0);
}

TEST_F(OperatorScenario, RecordedClipIsFoundInTheBrowserPreviewedPlayedBackAndDeleted) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(dialAndLogIn());
    ASSERT_NO_FATAL_FAILURE(chooseChannel(1));
    const std::vector<ChannelToolbar> windows = waitForChannelWindows(1);
    ASSERT_EQ(windows.size(), 1u);
    clickMain(windows[0].record);
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::vector<std::string> clips = filesWithExtension(recordFolder(), ".avi");
            return clips.size() == 1 && fileSize(recordFolder() + "/" + clips.front()) > 20000;
        },
        kLongWaitMs, 250));
    clickMain(windows[0].stop());
    ASSERT_TRUE(menuCommand("c", "h"));
    ASSERT_TRUE(waitUntil([&] { return findChannelToolbars(grabMain()).empty(); }, kLongWaitMs, 250));
    const std::string clip = filesWithExtension(recordFolder(), ".avi").front();

    // Video clips > Playback video: the channel's node, then its one clip.
    ASSERT_TRUE(menuCommand("l", "p"));
    const std::optional<WindowId> browser = waitForDialog("^Video clips$");
    ASSERT_TRUE(browser);
    const QRect preview(330, 20, 290, 180); // right of the channel tree
    EXPECT_LT(Screen::colourfulShare(m_screen.grab(*browser), preview), 0.05);
    // The tree has the focus on its node: Space selects it, Tab goes to the
    // clip list, Space selects its first clip.
    ASSERT_TRUE(m_xdo.key(*browser, {"space", "Tab", "space"}));
    EXPECT_TRUE(waitUntil([&] { return Screen::colourfulShare(m_screen.grab(*browser), preview) > 0.15; },
                          kShortWaitMs, 200))
        << "no preview";

    // Play opens the player on that clip; its picture moves on by itself.
    ASSERT_TRUE(m_xdo.key(*browser, {"alt+p"}));
    const std::optional<WindowId> player = waitForDialog("^" + clip + " ");
    ASSERT_TRUE(player);
    const QRect picture(10, 50, 300, 200);
    QImage first;
    ASSERT_TRUE(waitUntil(
        [&] {
            first = m_screen.grab(*player);
            return Screen::colourfulShare(first, picture) > 0.15;
        },
        kShortWaitMs, 200));
    EXPECT_TRUE(waitUntil([&] { return Screen::changedShare(first, m_screen.grab(*player), picture) > 0.01; },
                          kShortWaitMs, 250))
        << "the clip does not play";

    // Played clips count as read in the index.
    const std::string record = std::string(kStoreRoot) + "\\RemoteRecord\\" + clip;
    EXPECT_TRUE(waitUntil([&] { return m_store->dword(record, "Open") == 1; }, kShortWaitMs));
    EXPECT_EQ(m_store->dword(record, "Channel"), 2);

    // Delete, confirmed: the clip's files and its index entry go, the list
    // and the preview empty.
    ASSERT_TRUE(m_xdo.key(*browser, {"alt+d"}));
    const std::optional<WindowId> question = waitForMessageBox();
    ASSERT_TRUE(question);
    ASSERT_TRUE(m_xdo.key(*question, {"Return"}));
    EXPECT_TRUE(waitUntil([&] { return filesWithExtension(recordFolder(), ".avi").empty(); }, kShortWaitMs));
    EXPECT_TRUE(filesWithExtension(recordFolder(), ".img").empty());
    EXPECT_TRUE(m_store->subkeys(std::string(kStoreRoot) + "\\RemoteRecord").empty());

    // Exit in the browser closes it and its player; then the program ends.
    ASSERT_TRUE(m_xdo.key(*browser, {"alt+x"}));
    ASSERT_TRUE(m_xdo.waitForNoWindow("^Video clips$"));
    EXPECT_TRUE(programWindows("^" + clip + " ").empty());
    EXPECT_EQ(exitFromMenu(), 0);
}

TEST_F(OperatorScenario, IncomingCallIsAnsweredFiledAlarmedRecordedAndSnapshotted) {
    ASSERT_TRUE(startSite({"--site-name", "Harbour Gate", "--site-tel", "555-0199"}));
    ASSERT_TRUE(startProgram());
    EXPECT_FALSE(alarmButtonEnabled());
    EXPECT_EQ(eventRowsShown(), 0);

    ASSERT_TRUE(m_site->send("ring"));
    // Every channel the site sends gets a snapshot viewer...
    std::vector<WindowId> viewers;
    ASSERT_TRUE(waitUntil(
        [&] {
            viewers = programWindows("^000[1-4] [A-Za-z ]+ -- [0-9]{2}:[0-9]{2}:[0-9]{2}$");
            return viewers.size() == 4;
        },
        kLongWaitMs, 250))
        << viewers.size() << " viewers\n"
        << m_site->log();
    // They open on top of each other; each comes forward to be looked at.
    for (WindowId viewer : viewers) {
        ASSERT_TRUE(m_xdo.raise(viewer));
        EXPECT_TRUE(waitUntil(
            [&] { return Screen::colourfulShare(m_screen.grab(viewer), QRect(0, 0, 320, 240)) > 0.15; },
            kShortWaitMs, 200))
            << m_xdo.title(viewer);
    }

    // ...and is recorded from the start.
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::vector<std::string> clips = filesWithExtension(recordFolder(), ".avi");
            if (clips.size() != 4)
                return false;
            for (const std::string& clip : clips)
                if (fileSize(recordFolder() + "/" + clip) < 8000)
                    return false;
            return true;
        },
        kLongWaitMs, 250));

    // The call was answered only after the program's pause.
    const std::string log = m_site->log();
    const double ring = logTime(log, {"\"event\":\"ring\""});
    const double answer = logTime(log, {"\"event\":\"call\"", "\"answer\""});
    ASSERT_GE(ring, 0) << log;
    ASSERT_GE(answer, 0) << log;
    EXPECT_GE(answer - ring, 1.9) << log;

    // The alarm sounds until the operator stops it from the toolbar.
    ASSERT_TRUE(m_xdo.raise(m_main));
    EXPECT_TRUE(waitUntil([&] { return alarmButtonEnabled(); }, kShortWaitMs, 200));
    clickMain(QPoint(154, 44));
    EXPECT_TRUE(waitUntil([&] { return !alarmButtonEnabled(); }, kShortWaitMs, 200));

    // The site's identity is filed as an event and listed.
    const std::string events = std::string(kStoreRoot) + "\\RemotePerson";
    const std::vector<std::string> ids = m_store->subkeys(events);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids.front().size(), 14u);
    EXPECT_EQ(m_store->text(events + "\\" + ids.front(), "ID"), ids.front());
    EXPECT_EQ(m_store->text(events + "\\" + ids.front(), "Name"), "Harbour Gate" + std::string(18, '\0'));
    EXPECT_EQ(m_store->text(events + "\\" + ids.front(), "Tel"), "555-0199" + std::string(22, '\0'));
    EXPECT_EQ(eventRowsShown(), 1);

    // Hanging up ends the four recordings: four clips, each indexed.
    ASSERT_TRUE(menuCommand("c", "h"));
    const std::string index = std::string(kStoreRoot) + "\\RemoteRecord";
    ASSERT_TRUE(waitUntil([&] { return m_store->subkeys(index).size() == 4; }, kLongWaitMs, 250))
        << m_store->exportTree(index);
    const std::vector<std::string> clips = filesWithExtension(recordFolder(), ".avi");
    ASSERT_EQ(clips.size(), 4u);
    EXPECT_EQ(filesWithExtension(recordFolder(), ".img").size(), 4u);
    for (size_t i = 0; i < clips.size(); ++i) {
        EXPECT_EQ(std::atoi(clips[i].substr(14, 4).c_str()), int(i) + 1) << clips[i];
        EXPECT_EQ(m_store->dword(index + "\\" + clips[i], "Channel"), int(i) + 1);
        std::map<std::string, std::string> video = probeVideo(recordFolder() + "/" + clips[i]);
        EXPECT_FALSE(video["codec_name"].empty()) << clips[i];
        EXPECT_EQ(video["r_frame_rate"], "2/1") << clips[i];
        EXPECT_GT(std::atoi(video["nb_read_frames"].c_str()), 0) << clips[i];
    }
    EXPECT_EQ(exitFromMenu(), 0);
}

TEST_F(OperatorScenario, FarEndHangUpEndsTheRecordingAndTheNextCallIsAnswered) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(dialAndLogIn());
    ASSERT_NO_FATAL_FAILURE(chooseChannel(0));
    const std::vector<ChannelToolbar> windows = waitForChannelWindows(1);
    ASSERT_EQ(windows.size(), 1u);
    clickMain(windows[0].record);
    ASSERT_TRUE(
        waitUntil([&] { return filesWithExtension(recordFolder(), ".avi").size() == 1; }, kLongWaitMs));

    // The line drops at the far end: the window closes and the clip is indexed.
    ASSERT_TRUE(m_site->send("hangup"));
    EXPECT_TRUE(waitUntil([&] { return findChannelToolbars(grabMain()).empty(); }, kLongWaitMs, 250));
    const std::string index = std::string(kStoreRoot) + "\\RemoteRecord";
    EXPECT_TRUE(waitUntil([&] { return m_store->subkeys(index).size() == 1; }, kLongWaitMs, 250));

    // The program is ready for the next call: a site calling in is answered.
    ASSERT_TRUE(m_site->send("ring"));
    EXPECT_TRUE(
        waitUntil([&] { return programWindows("^000[1-4] [A-Za-z ]+ -- ").size() == 4; }, kLongWaitMs, 250))
        << m_site->log();
    EXPECT_EQ(exitFromMenu(), 0);
}

TEST_F(OperatorScenario, PatrolRoundFromTheMenuLeavesAPictureAndAReport) {
    ASSERT_TRUE(startSite());
    // The phone book holds the demo site; the patrol lists it.
    const std::string entry = std::string(kStoreRoot) + "\\RemotePhone\\demo";
    ASSERT_TRUE(m_store->setText(entry, "Name", "demo"));
    ASSERT_TRUE(m_store->setText(entry, "PassWord", "demo"));
    ASSERT_TRUE(m_store->setText(entry, "Dial", "5551234"));
    ASSERT_TRUE(m_store->setText(std::string(kProfileKey) + "\\Patrol", "Entries", "demo"));
    ASSERT_TRUE(startProgram());

    // Setup > Site patrol > Run now.
    ASSERT_TRUE(menuCommand("s", "a"));
    ASSERT_TRUE(m_xdo.press({"r"}));
    std::string report;
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code error;
            for (const auto& round : fs::directory_iterator(fs::path(recordFolder()) / "patrol", error)) {
                std::ifstream in(round.path() / "report.json");
                report.assign(std::istreambuf_iterator<char>(in), {});
            }
            return !report.empty();
        },
        kLongWaitMs, 250))
        << m_site->log();
    EXPECT_NE(report.find("\"allReached\": true"), std::string::npos) << report;
    EXPECT_NE(report.find("/demo/0001.bmp"), std::string::npos) << report;
    size_t pictures = 0;
    for (const auto& file : fs::recursive_directory_iterator(fs::path(recordFolder()) / "patrol"))
        pictures += file.path().extension() == ".bmp";
    EXPECT_GE(pictures, 1u);

    // View > Patrol report shows it.
    ASSERT_TRUE(menuCommand("i", "p"));
    const std::optional<WindowId> window = waitForDialog("^Patrol report$");
    ASSERT_TRUE(window.has_value());
    m_xdo.key(*window, {"Escape"});
    m_xdo.waitForNoWindow("^Patrol report$");
    EXPECT_EQ(exitFromMenu(), 0);
}
