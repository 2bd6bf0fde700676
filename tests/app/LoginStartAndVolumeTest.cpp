#include "app/core/AppStore.h"
#include "app/core/AutostartEntry.h"
#include "app/core/RecordVolume.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kRunKey = "software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Points XDG_CONFIG_HOME somewhere else for one test.
class ScopedConfigHome {
public:
    explicit ScopedConfigHome(const std::string& path) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            m_old = old;
        setenv("XDG_CONFIG_HOME", path.c_str(), 1);
    }
    ~ScopedConfigHome() {
        if (m_old)
            setenv("XDG_CONFIG_HOME", m_old->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

private:
    std::optional<std::string> m_old;
};

TEST(AutoRunTest, RunValueAutostartEntryAndSettingFollowTheSwitch) {
    TempDir dir;
    ScopedConfigHome config(dir.file("config"));
    std::string entry = dir.file("config") + "/autostart/dialscope.desktop";
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    RegistryStore user(dir.file("user.sqlite"));
    RegistryStore machine(dir.file("machine.sqlite"));
    AppStore store(user, machine);

    store.SetAutoRun(true);
    auto run = machine.openKey(kRunKey).queryValue("Kestrel");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->data, program); // full path, no terminating zero
    EXPECT_TRUE(store.autoRun());
    std::stringstream desktop;
    desktop << std::ifstream(entry).rdbuf();
    EXPECT_EQ(desktop.str().rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(desktop.str().find("\nExec=" + program + "\n"), std::string::npos);

    store.SetAutoRun(false);
    EXPECT_FALSE(machine.openKey(kRunKey).queryValue("Kestrel"));
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 0);

    // Without the right to change the machine-wide store the setting and the
    // user's own entry still follow.
    RegistryStore locked(dir.path()); // a folder cannot be opened as a store
    AppStore limited(user, locked);
    limited.SetAutoRun(true);
    EXPECT_EQ(limited.GetSetting(AppStore::kAutoRun), 1);
    EXPECT_TRUE(std::filesystem::exists(entry));
    limited.SetAutoRun(false);
    EXPECT_EQ(limited.GetSetting(AppStore::kAutoRun), 0);
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(AutostartEntryTest, ExecLineQuotesAndEscapesThePath) {
    auto execOf = [](std::string_view path) {
        std::string text = AutostartEntry::desktopFileText(path).value_or("");
        size_t at = text.find("\nExec=");
        return at == text.npos ? std::string("<none>")
                               : text.substr(at + 6, text.find('\n', at + 1) - at - 6);
    };
    EXPECT_EQ(execOf("/usr/bin/dialscope"), "/usr/bin/dialscope");
    EXPECT_EQ(execOf("/opt/my app/dialscope"), "\"/opt/my app/dialscope\"");
    EXPECT_EQ(execOf("/opt/100%/ds"), "/opt/100%%/ds");
    // Inside quotes '$' takes a backslash, which the value escaping doubles;
    // a literal backslash therefore becomes four.
    EXPECT_EQ(execOf("/opt/a$b"), "\"/opt/a\\\\$b\"");
    EXPECT_EQ(execOf("/opt/a\\b"), "\"/opt/a\\\\\\\\b\"");
    for (const char* unusable : {"relative/dialscope", "", "/opt/line\nbreak"})
        EXPECT_EQ(execOf(unusable), "<none>") << unusable;
}

TEST(RecordVolumeTest, TheInnermostMountHoldingThePathWins) {
    const std::vector<std::string> mounts = {"/", "/home", "/home/op/media", "/mnt/disk 1", "/data/"};
    for (auto [path, mount] : {std::pair{"/var/clips", "/"},
                               {"/home", "/home"},
                               {"/homework/clips", "/"},
                               {"/home/op/media/cam1", "/home/op/media"},
                               {"/home/op/mediaX", "/home"},
                               {"/mnt/disk 1/clips", "/mnt/disk 1"},
                               {"/data/x", "/data"}})
        EXPECT_EQ(RecordVolume::longestMountPrefix(path, mounts), mount) << path;
    EXPECT_EQ(RecordVolume::longestMountPrefix("/x", {"/home"}), "");

    EXPECT_EQ(RecordVolume::mountPointOf("/proc/self"), "/proc");
    EXPECT_EQ(RecordVolume::mountPointOf("/no/such/folder"), "");
    EXPECT_EQ(RecordVolume::freeMegabytes("/no/such/folder"), 0u);
}

} // namespace
