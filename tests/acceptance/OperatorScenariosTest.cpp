// The operator's main journeys through the built program on a real X server:
// first start, a dialled call with three channels, a recording, a snapshot
// saved as a bitmap, playing the clip back, and a site that calls in.
#include "AcceptanceTest.h"

#include "AcceptancePaths.h"

#include <QImage>
#include <QPoint>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// ffprobe's view of a clip's video stream.
std::map<std::string, std::string> probeVideo(const std::string& path) {
    const ToolResult result =
        RunTool({kFfprobePath, "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=codec_name,r_frame_rate,nb_read_frames,width,height", "-of",
                 "default=noprint_wrappers=1", path},
                {}, kLongWaitMs);
    std::map<std::string, std::string> fields;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);)
        if (const size_t equals = line.find('='); equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    return fields;
}

std::vector<std::string> filesWithExtension(const std::string& folder, const std::string& extension) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored))
        if (entry.path().extension() == extension)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uintmax_t fileSize(const std::string& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

} // namespace

class OperatorScenario : public AcceptanceTest {
protected:
    static constexpr const char* kChannelChoice = "^Open local site video channel$";

    void clickMain(QPoint at) { ASSERT_TRUE(m_xdo.click(m_main, at.x(), at.y())); }
};

TEST_F(OperatorScenario, FirstStartShowsSplashThenMaximisedMainWindowWritesDefaultsAndExitsFromMenu) {
    std::filesystem::create_directories(m_sandbox.file("program"));
    m_program = std::make_unique<ProgramUnderTest>(m_server, m_sandbox.file("program"), std::string());
    ASSERT_TRUE(m_program->start());

    // The splash: a picture-only window centred on the screen, before the
    // main window shows, gone after a moment.
    std::optional<QRect> splash;
    bool mainBeforeSplash = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (WindowId window : m_xdo.windowsOf(m_program->pid())) {
                const std::string type = m_xdo.property(window, "_NET_WM_WINDOW_TYPE");
                if (type.find("_SPLASH") != std::string::npos)
                    splash = m_xdo.geometry(window);
                else if (!splash && type.find("_NORMAL") != std::string::npos)
                    mainBeforeSplash = true;
            }
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
    EXPECT_TRUE(WaitUntil([&] { return !splashShowing(); }, kShortWaitMs)) << "the splash stays";

    EXPECT_EQ(m_xdo.title(m_main), "Dialscope");
    const std::string state = m_xdo.property(m_main, "_NET_WM_STATE");
    EXPECT_NE(state.find("_NET_WM_STATE_MAXIMIZED_VERT"), std::string::npos) << state;
    EXPECT_NE(state.find("_NET_WM_STATE_MAXIMIZED_HORZ"), std::string::npos) << state;

    // Every menu opens from its mnemonic; Escape closes it again.
    for (const char* menu : {"c", "v", "i", "l", "s", "a"}) {
        const size_t before = m_xdo.windowsOf(m_program->pid()).size();
        ASSERT_TRUE(m_xdo.key(m_main, {std::string("alt+") + menu}));
        EXPECT_TRUE(
            WaitUntil([&] { return m_xdo.windowsOf(m_program->pid()).size() > before; }, kShortWaitMs, 50))
            << "menu " << menu;
        ASSERT_TRUE(m_xdo.press({"Escape", "Escape"}));
        EXPECT_TRUE(
            WaitUntil([&] { return m_xdo.windowsOf(m_program->pid()).size() == before; }, kShortWaitMs, 50))
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
    ASSERT_TRUE(m_xdo.key(m_main, {"alt+x"}));
    EXPECT_EQ(m_program->waitForExit(), 0);
    EXPECT_TRUE(m_xdo.search("^Dialscope$").empty());
}

TEST_F(OperatorScenario, DialledCallShowsThreeTiledChannelsRecordsOneAndSavesASnapshot) {
    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    const std::string shots = m_sandbox.file("shots");
    fs::create_directories(shots);

    ASSERT_NO_FATAL_FAILURE(dialAndLogIn());
    // The site prompts for a channel once logged in: channel 1, then 2 and 3
    // through the Video channel menu.
    ASSERT_NO_FATAL_FAILURE(chooseChannel(0));
    ASSERT_EQ(waitForChannelWindows(1).size(), 1u);
    for (int index : {1, 2}) {
        ASSERT_TRUE(menuCommand("v", "o"));
        ASSERT_NO_FATAL_FAILURE(chooseChannel(index));
        ASSERT_EQ(waitForChannelWindows(size_t(index) + 1).size(), size_t(index) + 1);
    }

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
            WaitUntil([&] { return Screen::changedShare(before, grabMain(), window.picture()) > 0.01; },
                      kShortWaitMs, 250))
            << "a picture stands still";

    // Record channel 1: its Record dot goes grey while the others stay red,
    // and the clip grows in the record folder.
    const ChannelToolbar& gate = windows[0];
    clickMain(gate.record);
    EXPECT_TRUE(WaitUntil([&] { return !HasMarkAt(grabMain(), gate.record); }, kShortWaitMs, 200));
    const QImage recording = grabMain();
    EXPECT_TRUE(HasMarkAt(recording, gate.close));
    EXPECT_TRUE(HasMarkAt(recording, windows[1].record));
    EXPECT_TRUE(HasMarkAt(recording, windows[2].record));
    std::string clip;
    ASSERT_TRUE(WaitUntil(
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
    ASSERT_TRUE(WaitUntil([&] { return m_xdo.windowsOf(m_program->pid()).size() >= 3; }, kShortWaitMs, 50));
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
    EXPECT_TRUE(WaitUntil([&] { return HasMarkAt(grabMain(), gate.record); }, kShortWaitMs, 200));
    ASSERT_TRUE(menuCommand("c", "h"));
    EXPECT_TRUE(WaitUntil([&] { return FindChannelToolbars(grabMain()).empty(); }, kLongWaitMs, 250));
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
}
