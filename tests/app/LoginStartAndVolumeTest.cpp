#include "AppStore.h"
#include "AutostartEntry.h"
#include "RecordVolume.h"
#include "RegistryStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

constexpr const char* kRunKey = "software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ThisProgram() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

class AutoRunTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_config{"XDG_CONFIG_HOME", m_dir.file("config").c_str()};
    std::string m_entry = m_dir.file("config") + "/autostart/dialscope.desktop";
    RegistryStore m_user{m_dir.file("user.sqlite")};
};

TEST_F(AutoRunTest, OnWritesRunValueAndAutostartEntryOffRemovesBoth) {
    RegistryStore machine(m_dir.file("machine.sqlite"));
    AppStore store(m_user, machine);

    store.SetAutoRun(true);
    auto run = machine.openKey(kRunKey).queryValue("Kestrel");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->type, RegType::String);
    EXPECT_EQ(run->data, ThisProgram()); // full path, no terminating zero
    EXPECT_TRUE(store.GetAutoRun());
    std::string desktop = ReadFile(m_entry);
    EXPECT_EQ(desktop.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(desktop.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nExec=" + ThisProgram() + "\n"), std::string::npos);

    store.SetAutoRun(false);
    EXPECT_FALSE(machine.openKey(kRunKey).queryValue("Kestrel"));
    EXPECT_TRUE(machine.openKey(kRunKey)); // the key itself stays
    EXPECT_FALSE(std::filesystem::exists(m_entry));
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 0);
    EXPECT_FALSE(store.GetAutoRun());

    // Switching off twice is harmless.
    store.SetAutoRun(false);
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 0);
}

TEST_F(AutoRunTest, AnUnwritableMachineStoreStillStoresTheSetting) {
    RegistryStore machine(m_dir.path()); // a folder: cannot be opened as a store
    ASSERT_FALSE(machine.writable());
    AppStore store(m_user, machine);

    store.SetAutoRun(true);
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 1);
    EXPECT_TRUE(std::filesystem::exists(m_entry));
    store.SetAutoRun(false);
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 0);
    EXPECT_FALSE(std::filesystem::exists(m_entry));
}

TEST(AutostartEntryTest, ExecLineQuotesAndEscapesThePath) {
    auto execOf = [](std::string_view path) {
        std::string text = AutostartEntry::DesktopFileText(path).value_or("");
        size_t at = text.find("\nExec=");
        return at == text.npos ? std::string("<none>")
                               : text.substr(at + 6, text.find('\n', at + 1) - at - 6);
    };
    EXPECT_EQ(execOf("/usr/bin/dialscope"), "/usr/bin/dialscope");
    EXPECT_EQ(execOf("/opt/my app/dialscope"), "\"/opt/my app/dialscope\"");
    EXPECT_EQ(execOf("/opt/100%/ds"), "/opt/100%%/ds");
    // '$' needs quoting and, inside the quotes, a backslash, which the value
    // escaping doubles; a literal backslash becomes four.
    EXPECT_EQ(execOf("/opt/a$b"), "\"/opt/a\\\\$b\"");
    EXPECT_EQ(execOf("/opt/a\\b"), "\"/opt/a\\\\\\\\b\"");
    EXPECT_EQ(execOf("/opt/say \"hi\""), "\"/opt/say \\\\\"hi\\\\\"\"");

    EXPECT_FALSE(AutostartEntry::DesktopFileText("relative/dialscope"));
    EXPECT_FALSE(AutostartEntry::DesktopFileText(""));
    EXPECT_FALSE(AutostartEntry::DesktopFileText("/opt/line\nbreak"));
}

TEST(AutostartEntryTest, FolderFollowsXdgConfigHomeOrHome) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg/root");
        EXPECT_EQ(AutostartEntry::ForCurrentUser().filePath(), "/cfg/root/autostart/dialscope.desktop");
    }
    {
        ScopedEnv home("HOME", "/home/op");
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/cfg"); // not absolute: ignored
        EXPECT_EQ(AutostartEntry::ForCurrentUser().filePath(),
                  "/home/op/.config/autostart/dialscope.desktop");
        ScopedEnv unset("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(AutostartEntry::ForCurrentUser().filePath(),
                  "/home/op/.config/autostart/dialscope.desktop");
    }
    ScopedEnv noHome("HOME", nullptr);
    ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
    AutostartEntry nowhere = AutostartEntry::ForCurrentUser();
    EXPECT_EQ(nowhere.filePath(), "");
    EXPECT_FALSE(nowhere.install("/usr/bin/dialscope"));
}

TEST(AutostartEntryTest, InstallReplacesAWholeEntryAndLeavesNoTemporaryFile) {
    TempDir dir;
    AutostartEntry entry(dir.path() + "/a/b/dialscope.desktop");
    ASSERT_TRUE(entry.install("/usr/bin/old"));
    ASSERT_TRUE(entry.install("/usr/bin/new"));
    std::string text = ReadFile(entry.filePath());
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_NE(text.find("Exec=/usr/bin/new\n"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() + "/a/b"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_TRUE(entry.remove());
    EXPECT_TRUE(entry.remove());
}

TEST(RecordVolumeTest, TheInnermostMountHoldingThePathWins) {
    const std::vector<std::string> mounts = {"/",           "/home",  "/home/op/media",
                                             "/mnt/disk 1", "/data/", "/home"};
    struct Case {
        const char* path;
        const char* mount;
    };
    for (Case c : {Case{"/", "/"}, Case{"/var/clips", "/"}, Case{"/home", "/home"}, Case{"/home/op", "/home"},
                   Case{"/homework/clips", "/"}, Case{"/home/op/media", "/home/op/media"},
                   Case{"/home/op/media/cam1", "/home/op/media"}, Case{"/home/op/mediaX", "/home"},
                   Case{"/mnt/disk 1/clips", "/mnt/disk 1"}, Case{"/data/x", "/data"}})
        EXPECT_EQ(RecordVolume::LongestMountPrefix(c.path, mounts), c.mount) << c.path;
    EXPECT_EQ(RecordVolume::LongestMountPrefix("/x", {}), "");
    EXPECT_EQ(RecordVolume::LongestMountPrefix("/x", {"/home"}), "");
}

TEST(RecordVolumeTest, MissingFoldersHaveNoVolumeAndNoFreeSpace) {
    EXPECT_EQ(RecordVolume::MountPointOf("/no/such/folder/anywhere"), "");
    EXPECT_EQ(RecordVolume::FreeMegabytes("/no/such/folder/anywhere"), 0u);
    EXPECT_EQ(RecordVolume::MountPointOf("/"), "/");
    // /proc is a volume of its own.
    EXPECT_EQ(RecordVolume::MountPointOf("/proc/self"), "/proc");
}

} // namespace
