#include "tests/acceptance/AcceptanceTest.h"

#include "tests/acceptance/AcceptancePaths.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace {

// Modem timings of the simulated site, short so a scenario does not wait for
// a real modem; the program's own timers keep their real values.
const std::vector<std::string> kQuickModem{"--dial-delay",    "300", "--answer-delay", "300",
                                           "--ring-interval", "500"};

} // namespace

AcceptanceTest::AcceptanceTest() = default;

void AcceptanceTest::SetUp() {
    ASSERT_TRUE(m_server.start()) << "Xvfb did not start";
    m_store = std::make_unique<Store>(m_sandbox.path() + "/program/registry");
}

void AcceptanceTest::TearDown() {
    // A failed scenario leaves what the screen showed where the run asks for it.
    const char* artifacts = std::getenv("DIALSCOPE_ACCEPTANCE_ARTIFACTS");
    if (HasFailure() && artifacts && *artifacts && m_program && m_program->running()) {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string(artifacts) + "/" + test->test_suite_name() + "." + test->name();
        std::filesystem::create_directories(artifacts);
        for (WindowId window : m_xdo.windowsOf(m_program->pid()))
            m_screen.grab(window).save(QString::fromStdString(name + "-" + std::to_string(window) + ".png"));
    }
    if (m_program)
        m_program->terminate();
    m_program.reset();
    m_site.reset();
}

bool AcceptanceTest::startSite(const std::vector<std::string>& options) {
    std::vector<std::string> all = kQuickModem;
    all.insert(all.end(), options.begin(), options.end());
    std::filesystem::create_directories(m_sandbox.file("site"));
    m_site = std::make_unique<SiteSim>(m_sandbox.file("site"), all);
    return m_site->start();
}

bool AcceptanceTest::launchProgram(const std::vector<std::string>& arguments) {
    // The server hands a new client the ids an ended one had: forget them.
    m_main = 0;
    m_popup.clear();
    std::filesystem::create_directories(m_sandbox.file("program"));
    m_program = std::make_unique<ProgramUnderTest>(m_server, m_sandbox.file("program"),
                                                   m_site ? m_site->linkPath() : std::string());
    return m_program->start(arguments);
}

std::optional<WindowId> AcceptanceTest::startProgram(const std::vector<std::string>& arguments) {
    if (!launchProgram(arguments))
        return std::nullopt;
    std::optional<WindowId> main = m_program->waitForMainWindow();
    m_main = main.value_or(0);
    // The first key or click while the splash shows only closes the splash.
    if (main && !waitUntil([&] { return !splashShowing(); }, kLongWaitMs, 100))
        return std::nullopt;
    return main;
}

bool AcceptanceTest::splashShowing() const {
    for (WindowId window : m_xdo.windowsOf(m_program->pid()))
        if (m_xdo.property(window, "_NET_WM_WINDOW_TYPE").find("_SPLASH") != std::string::npos)
            return true;
    return false;
}

bool AcceptanceTest::menuCommand(const std::string& menuKey, const std::string& itemKey, int keyDelayMs) {
    // The menu pops up as a new override-redirect window that grabs the
    // keyboard (other windows may appear meanwhile: a call's snapshot
    // viewers). The toolkit maps the same window again for the next menu, so
    // a menu still open from an earlier try is closed first. Top-level windows
    // mapped while the main window holds the X input focus can leave the
    // toolkit routing keys to one of them; when the menu does not come, the
    // focus goes to another window of the program and back, which it follows.
    const auto popups = [&] {
        std::vector<WindowId> found;
        for (WindowId window : m_xdo.windowsOf(m_program->pid())) {
            if (window == m_main)
                continue;
            const auto known = m_popup.find(window);
            if (known != m_popup.end() ? known->second : (m_popup[window] = m_xdo.overrideRedirect(window)))
                found.push_back(window);
        }
        return found;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && !popups().empty() && m_xdo.press({"Escape"}))
            waitUntil([&] { return popups().empty(); }, 2000, 50);
        const std::vector<WindowId> before = popups();
        if (attempt > 0) {
            for (WindowId window : m_xdo.windowsOf(m_program->pid()))
                if (window != m_main && m_xdo.focus(window))
                    break;
        }
        if (!m_xdo.key(m_main, {"alt+" + menuKey}, keyDelayMs))
            return false;
        const auto menuOpen = [&] {
            for (WindowId window : popups())
                if (std::find(before.begin(), before.end(), window) == before.end())
                    return true;
            return false;
        };
        if (waitUntil(menuOpen, attempt == 2 ? kShortWaitMs : 2000, 20))
            return m_xdo.press({itemKey}, keyDelayMs);
    }
    return false;
}

std::optional<int> AcceptanceTest::exitFromMenu() {
    if (!m_xdo.key(m_main, {"alt+x"}))
        return std::nullopt;
    return m_program->waitForExit();
}

std::vector<WindowId> AcceptanceTest::programWindows(const std::string& titleRegex) const {
    std::vector<WindowId> windows;
    for (WindowId window : m_xdo.search(titleRegex))
        if (m_program && m_xdo.pid(window) == m_program->pid())
            windows.push_back(window);
    return windows;
}

std::optional<WindowId> AcceptanceTest::waitForDialog(const std::string& titleRegex, int timeoutMs,
                                                      int stepMs) {
    std::optional<WindowId> found;
    waitUntil(
        [&] {
            for (WindowId window : programWindows(titleRegex))
                if (window != m_main)
                    found = window;
            return found.has_value();
        },
        timeoutMs, stepMs);
    return found;
}

std::optional<WindowId> AcceptanceTest::waitForMessageBox(int timeoutMs) {
    std::optional<WindowId> found;
    waitUntil(
        [&] {
            for (WindowId window : programWindows("^Dialscope$"))
                if (window != m_main &&
                    m_xdo.property(window, "_NET_WM_WINDOW_TYPE").find("_DIALOG") != std::string::npos)
                    found = window;
            return found.has_value();
        },
        timeoutMs, 200);
    return found;
}

void AcceptanceTest::dialAndLogIn(const std::string& user, const std::string& password,
                                  const std::string& number) {
    ASSERT_TRUE(menuCommand("c", "c"));
    const std::optional<WindowId> dialog = waitForDialog("^Connect to local site$");
    ASSERT_TRUE(dialog);
    // The user name field has the focus; Tab goes to password, then number.
    for (const std::string& text : {user, password, number}) {
        ASSERT_TRUE(m_xdo.key(*dialog, {"ctrl+a"}));
        ASSERT_TRUE(m_xdo.type(*dialog, text));
        ASSERT_TRUE(m_xdo.key(*dialog, {"Tab"}));
    }
    ASSERT_TRUE(m_xdo.key(*dialog, {"Return"}));
}

void AcceptanceTest::chooseChannel(int index) {
    static constexpr const char* kChannelChoice = "^Open local site video channel$";
    const std::optional<WindowId> dialog = waitForDialog(kChannelChoice);
    ASSERT_TRUE(dialog) << "no channel choice";
    std::vector<std::string> keys(size_t(index), "Down");
    keys.push_back("Return");
    ASSERT_TRUE(m_xdo.key(*dialog, keys));
    ASSERT_TRUE(m_xdo.waitForNoWindow(kChannelChoice));
}

std::vector<ChannelToolbar> AcceptanceTest::waitForChannelWindows(size_t count, int timeoutMs) {
    std::vector<ChannelToolbar> toolbars;
    waitUntil(
        [&] {
            toolbars = findChannelToolbars(grabMain());
            return toolbars.size() == count;
        },
        timeoutMs, 250);
    return toolbars;
}

bool AcceptanceTest::noticeShows(WindowId box, const std::string& text) {
    const std::string reference = m_sandbox.file("notice.png");
    std::filesystem::remove(reference);
    // Without a session bus, as the program runs. Only the picture counts:
    // the exit code may carry a sanitizer's report about the toolkit.
    std::vector<std::string> environment = m_server.clientEnvironment();
    environment.insert(environment.end(), {"DBUS_SESSION_BUS_ADDRESS=disabled:", "NO_AT_BRIDGE=1"});
    runTool({kNoticePath, reference, text}, environment);
    const QImage expected(QString::fromStdString(reference), "PNG");
    const QImage shown = m_screen.grab(box);
    return !expected.isNull() && shown.size() == expected.size() &&
           Screen::changedShare(expected, shown, expected.rect()) < 0.02;
}

std::vector<ChannelToolbar> AcceptanceTest::callWithChannels(int channels) {
    dialAndLogIn();
    if (HasFatalFailure())
        return {};
    for (int index = 0; index < channels; ++index) {
        if (index > 0 && !menuCommand("v", "o"))
            return {};
        chooseChannel(index);
        if (HasFatalFailure() || waitForChannelWindows(size_t(index) + 1).size() != size_t(index) + 1)
            return {};
    }
    return waitForChannelWindows(size_t(channels));
}

std::optional<double> AcceptanceTest::aboutRoundTrip() {
    static constexpr const char* kAboutTitle = "^About Dialscope";
    // Fine enough that neither the poll nor the tool's pause after a key
    // hides in the figure.
    static constexpr int kStepMs = 20;
    static constexpr int kKeyDelayMs = 5;
    const auto start = std::chrono::steady_clock::now();
    // A window mapped while the menu is open (a call's snapshot viewer) may
    // close the menu before the item key arrives; the operator then tries
    // again, unless About came late. The time counts from the first try.
    std::optional<WindowId> about;
    for (int attempt = 0; attempt < 3 && !about; ++attempt) {
        if (!menuCommand("a", "a", kKeyDelayMs)) {
            about = waitForDialog(kAboutTitle, 1000, kStepMs);
            break;
        }
        about = waitForDialog(kAboutTitle, attempt == 2 ? kShortWaitMs : 3000, kStepMs);
    }
    if (!about)
        return std::nullopt;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!m_xdo.key(*about, {"Return"}) || !m_xdo.waitForNoWindow(kAboutTitle))
        return std::nullopt;
    return seconds;
}
