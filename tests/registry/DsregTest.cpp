// The dsreg tool as an operator runs it: output and exit status of each
// command against a private store folder.
#include "platform/registry/RegistryStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace {

using namespace std::string_literals;

struct ToolRun {
    int exitCode;
    std::string out;
};

class DsregTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedDir = std::getenv("DIALSCOPE_REGISTRY_DIR");
        setenv("DIALSCOPE_REGISTRY_DIR", m_dir.path().c_str(), 1);
    }
    void TearDown() override { setenv("DIALSCOPE_REGISTRY_DIR", m_savedDir.c_str(), 1); }

    ToolRun dsreg(std::vector<std::string> args) {
        args.insert(args.begin(), DSREG_PATH);
        ChildProcess tool(args);
        std::string out = tool.readAll();
        int status = tool.wait();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }

    TempDir m_dir{"registry-dsreg"};
    std::string m_savedDir;
};

const std::string kSetting = "HKCU\\software\\Kestrel-Lookout\\Dialscope\\Setting";

TEST_F(DsregTest, SetQueryListExportDelete) {
    EXPECT_EQ(dsreg({"set", kSetting, "CheckTimer", "dword", "30"}).exitCode, 0);
    EXPECT_EQ(dsreg({"set", kSetting, "Modem", "dword", "-1"}).exitCode, 0);
    EXPECT_EQ(dsreg({"set", kSetting, "Class Name", "sz", "Dial \"scope\""}).exitCode, 0);
    {
        // Bytes dsreg cannot type: a terminating zero and a high byte.
        RegistryStore store(RegistryStore::defaultPath(RegistryRoot::CurrentUser));
        ASSERT_TRUE(
            store.createKey("software\\Kestrel-Lookout\\RemotePhone\\alice").setString("Memo", "a\0\xe9"s));
    }

    ToolRun query =
        dsreg({"query", "HKEY_CURRENT_USER\\SOFTWARE\\kestrel-lookout\\dialscope\\setting", "checktimer"});
    EXPECT_EQ(query.exitCode, 0);
    EXPECT_EQ(query.out, "dword:0000001e (30)\n");
    EXPECT_EQ(dsreg({"query", kSetting, "Modem"}).out, "dword:ffffffff (-1)\n");

    EXPECT_EQ(dsreg({"query", kSetting}).out, "  \"CheckTimer\" = dword:0000001e (30)\n"
                                              "  \"Class Name\" = sz[12]:\"Dial \\\"scope\\\"\"\n"
                                              "  \"Modem\" = dword:ffffffff (-1)\n");

    ToolRun list = dsreg({"list", "HKCU\\software\\Kestrel-Lookout"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "Dialscope\\\nRemotePhone\\\n");

    ToolRun exported = dsreg({"export", "HKCU\\software\\Kestrel-Lookout"});
    EXPECT_EQ(exported.exitCode, 0);
    EXPECT_EQ(exported.out, "[HKCU\\software\\Kestrel-Lookout]\n\n"
                            "[HKCU\\software\\Kestrel-Lookout\\Dialscope]\n\n"
                            "[HKCU\\software\\Kestrel-Lookout\\Dialscope\\Setting]\n"
                            "  \"CheckTimer\" = dword:0000001e (30)\n"
                            "  \"Class Name\" = sz[12]:\"Dial \\\"scope\\\"\"\n"
                            "  \"Modem\" = dword:ffffffff (-1)\n\n"
                            "[HKCU\\software\\Kestrel-Lookout\\RemotePhone]\n\n"
                            "[HKCU\\software\\Kestrel-Lookout\\RemotePhone\\alice]\n"
                            "  \"Memo\" = sz[3]:\"a\\x00\\xe9\"\n\n");

    // Deleting: a value, a key with subkeys (refused), a leaf key.
    EXPECT_EQ(dsreg({"delete", kSetting, "Modem"}).exitCode, 0);
    EXPECT_EQ(dsreg({"query", kSetting, "Modem"}).exitCode, 1);
    EXPECT_EQ(dsreg({"delete", "HKCU\\software\\Kestrel-Lookout\\RemotePhone"}).exitCode, 1);
    EXPECT_EQ(dsreg({"delete", "HKCU\\software\\Kestrel-Lookout\\RemotePhone\\ALICE"}).exitCode, 0);
    EXPECT_EQ(dsreg({"delete", "HKCU\\software\\Kestrel-Lookout\\RemotePhone\\alice"}).exitCode, 1);
    EXPECT_EQ(dsreg({"list", "HKCU\\software\\Kestrel-Lookout\\RemotePhone"}).out, "");
}

TEST_F(DsregTest, RootsAreSeparateFilesAndErrorsAreReported) {
    EXPECT_EQ(dsreg({"set", "HKLM\\software\\R8K2", "Level", "dword", "0x10"}).exitCode, 0);
    EXPECT_EQ(dsreg({"query", "HKEY_LOCAL_MACHINE\\software\\R8K2", "level"}).out, "dword:00000010 (16)\n");
    EXPECT_EQ(dsreg({"query", "HKCU\\software\\R8K2", "Level"}).exitCode, 1);

    EXPECT_EQ(dsreg({"query", "HKCU\\missing"}).exitCode, 1);
    EXPECT_EQ(dsreg({"frobnicate", "HKCU\\software"}).exitCode, 2);
    EXPECT_EQ(dsreg({"query", "HKXX\\software"}).exitCode, 2);
    EXPECT_EQ(dsreg({"set", kSetting, "CheckTimer", "qword", "1"}).exitCode, 2);
    EXPECT_EQ(dsreg({"set", kSetting, "CheckTimer", "dword"}).exitCode, 2);
    EXPECT_EQ(dsreg({"set", kSetting, "CheckTimer", "dword", "thirty"}).exitCode, 2);
    EXPECT_EQ(dsreg({"query", kSetting, "CheckTimer"}).exitCode, 1) << "nothing was written";
}

TEST_F(DsregTest, ImportReadsBackWhatExportWrote) {
    EXPECT_EQ(dsreg({"set", kSetting, "CheckTimer", "dword", "30"}).exitCode, 0);
    {
        RegistryStore store(RegistryStore::defaultPath(RegistryRoot::CurrentUser));
        ASSERT_TRUE(store.createKey("software\\Kestrel-Lookout\\RemotePhone\\alice")
                        .setString("Memo", "a\0\xe9\\\""s));
    }
    const std::string exported = dsreg({"export", "HKCU\\software"}).out;
    const std::string file = m_dir.file("export.txt");
    {
        FILE* out = std::fopen(file.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(exported.data(), 1, exported.size(), out);
        std::fclose(out);
    }

    // Into an empty folder: the same export comes out.
    TempDir other{"registry-dsreg-import"};
    setenv("DIALSCOPE_REGISTRY_DIR", other.path().c_str(), 1);
    EXPECT_EQ(dsreg({"import", file}).exitCode, 0);
    EXPECT_EQ(dsreg({"export", "HKCU\\software"}).out, exported);

    // A damaged line is named, with its number; what came before it stays.
    const std::string damaged = m_dir.file("damaged.txt");
    {
        FILE* out = std::fopen(damaged.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs("[HKCU\\software\\Fresh]\n  \"V\" = dword:00000001 (1)\n  \"W\" = sz[2]:\"x\"\n", out);
        std::fclose(out);
    }
    const ToolRun failed = dsreg({"import", damaged});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(dsreg({"query", "HKCU\\software\\Fresh", "V"}).exitCode, 1) << "rolled back";
    EXPECT_EQ(dsreg({"import", m_dir.file("missing.txt")}).exitCode, 1);
    EXPECT_EQ(dsreg({"import"}).exitCode, 2);
}

} // namespace
