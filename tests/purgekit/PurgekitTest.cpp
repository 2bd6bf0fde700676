// Purgekit as outside programs use it: the built library is loaded with
// dlopen and every export is called by name against private store files.
#include "platform/registry/RegistryStore.h"
#include "tests/purgekit/PurgekitLibrary.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::set<std::string> kExports = {
    "DelaMLookoutSet", "DeleMLookoutSet",  "DelaLookoutSet",  "DeleLookoutSet",
    "DeluLookoutSet",  "DelKestrelSet",    "DelNightjarSet",  "SeteLookoutNTSC",
    "SeteLookoutPAL",  "SetaLookoutNTSC",  "SetaLookoutPAL",  "SetaMLookoutNTSC",
    "SetaMLookoutPAL", "SeteMLookoutNTSC", "SeteMLookoutPAL", "SetuLookoutReg",
};

struct DecoderExport {
    const char* ntsc;
    const char* pal;
    const char* key;
};

const DecoderExport kDecoderExports[] = {
    {"SeteLookoutNTSC", "SeteLookoutPAL", "Software\\Lookout For Local Transmitter\\Lookout\\Setting"},
    {"SetaLookoutNTSC", "SetaLookoutPAL", "Software\\aLookout For Local Transmitter\\Lookout\\Setting"},
    {"SetaMLookoutNTSC", "SetaMLookoutPAL",
     "Software\\aMultiLookout For Local Transmitter\\MultiLookout\\Setting"},
    {"SeteMLookoutNTSC", "SeteMLookoutPAL",
     "Software\\MultiLookout For Local Transmitter\\MultiLookout\\Setting"},
};

struct ThreeKeyExport {
    const char* name;
    const char* family;    // the product key below "software"
    const char* first;     // the first key deleted, which may hold "Setting"
    const char* setExport; // the export that writes its "Setting", if any
};

const ThreeKeyExport kThreeKeyExports[] = {
    {"DelaMLookoutSet", "aMultiLookout For Local Transmitter", "MultiLookout", "SetaMLookoutPAL"},
    {"DeleMLookoutSet", "MultiLookout For Local Transmitter", "MultiLookout", "SeteMLookoutPAL"},
    {"DelaLookoutSet", "aLookout For Local Transmitter", "Lookout", "SetaLookoutPAL"},
    {"DeleLookoutSet", "Lookout For Local Transmitter", "Lookout", "SeteLookoutPAL"},
    {"DeluLookoutSet", "uLookout For Local Transmitter", "Lookout", nullptr},
};

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class PurgekitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_lib.loaded()) << dlerror();
        m_savedDir = std::getenv("DIALSCOPE_REGISTRY_DIR");
        useDir(m_dir.path());
    }
    void TearDown() override { setenv("DIALSCOPE_REGISTRY_DIR", m_savedDir.c_str(), 1); }

    // The library reads the folder anew on every call.
    static void useDir(const std::string& dir) { setenv("DIALSCOPE_REGISTRY_DIR", dir.c_str(), 1); }
    std::string userFile() const { return m_dir.file("user.sqlite"); }
    std::string machineFile() const { return m_dir.file("machine.sqlite"); }

    // A value as a fresh store object reads it from the file.
    static std::optional<RegValue> value(const std::string& file, const std::string& key,
                                         const std::string& name) {
        RegistryStore store(file);
        return store.openKey(key).queryValue(name);
    }
    static bool hasKey(const std::string& file, const std::string& key) {
        RegistryStore store(file);
        return bool(store.openKey(key));
    }
    static std::vector<std::string> subkeys(const std::string& file, const std::string& key) {
        RegistryStore store(file);
        RegistryKey k = store.openKey(key);
        std::vector<std::string> names;
        for (uint32_t i = 0; auto name = k.subkeyName(i); ++i)
            names.push_back(*name);
        return names;
    }

    TempDir m_dir{"purgekit"};
    PurgekitLibrary m_lib{PURGEKIT_PATH};
    std::string m_savedDir;
};

TEST_F(PurgekitTest, ExportsExactlyTheSixteenFunctions) {
    ChildProcess nm({NM_PATH, "-D", "--defined-only", PURGEKIT_PATH});
    std::istringstream lines(nm.readAll());
    ASSERT_EQ(nm.wait(), 0);
    std::set<std::string> defined;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        EXPECT_EQ(type, "T") << line;
        defined.insert(name);
    }
    EXPECT_EQ(defined, kExports);
    for (const std::string& name : kExports)
        EXPECT_NE(m_lib.get(name), nullptr) << name;
}

TEST_F(PurgekitTest, DecoderExportsCreateTheirChainAndWriteTheStandard) {
    // On an empty store the PAL export creates every key along the path.
    ASSERT_EQ(m_lib.call("SeteLookoutPAL"), 1);
    EXPECT_EQ(subkeys(userFile(), ""), std::vector<std::string>{"Software"});
    EXPECT_EQ(subkeys(userFile(), "software"), std::vector<std::string>{"Lookout For Local Transmitter"});
    EXPECT_EQ(subkeys(userFile(), "software\\Lookout For Local Transmitter"),
              std::vector<std::string>{"Lookout"});
    EXPECT_EQ(subkeys(userFile(), "software\\Lookout For Local Transmitter\\Lookout"),
              std::vector<std::string>{"Setting"});
    auto pal = value(userFile(), kDecoderExports[0].key, "VideoDecoder");
    ASSERT_TRUE(pal);
    EXPECT_EQ(pal->type, RegType::Dword);
    EXPECT_EQ(pal->data, std::string("\x01\x00\x00\x00", 4));

    for (const DecoderExport& e : kDecoderExports) {
        SCOPED_TRACE(e.key);
        EXPECT_EQ(m_lib.call(e.pal), 1);
        EXPECT_EQ(value(userFile(), e.key, "videodecoder")->dword(), 1u);
        EXPECT_EQ(m_lib.call(e.ntsc), 1);
        EXPECT_EQ(value(userFile(), e.key, "VideoDecoder")->dword(), 0u);
        EXPECT_EQ(m_lib.call(e.pal), 1);
        EXPECT_EQ(value(userFile(), e.key, "VideoDecoder")->dword(), 1u);
    }
    // Each wrote only its own key, and only that one value.
    EXPECT_EQ(subkeys(userFile(), "software").size(), 4u);
    for (const DecoderExport& e : kDecoderExports) {
        RegistryStore store(userFile());
        EXPECT_EQ(store.openKey(e.key).values().size(), 1u) << e.key;
        EXPECT_EQ(store.openKey(e.key).subkeyCount(), 0u) << e.key;
    }
    EXPECT_FALSE(hasKey(machineFile(), "software"));
}

TEST_F(PurgekitTest, ThreeKeyDeletesTryEveryKeyAndAlwaysSucceed) {
    for (const ThreeKeyExport& e : kThreeKeyExports) {
        SCOPED_TRACE(e.name);
        const std::string family = std::string("software\\") + e.family;
        const std::string first = family + "\\" + e.first;

        // Nothing there: still 1, and nothing is created.
        EXPECT_EQ(m_lib.call(e.name), 1);
        EXPECT_FALSE(hasKey(userFile(), family));

        // All three present without subkeys: all go, their siblings stay.
        {
            RegistryStore store(userFile());
            for (const std::string& key : {first, family + "\\Default", family + "\\OpenVideo"})
                ASSERT_TRUE(store.createKey(key).setDword("x", 1));
            ASSERT_TRUE(store.createKey(family + "\\Other").setDword("y", 2));
        }
        EXPECT_EQ(m_lib.call(e.name), 1);
        EXPECT_EQ(subkeys(userFile(), family), std::vector<std::string>{"Other"});
        EXPECT_EQ(value(userFile(), family + "\\other", "y")->dword(), 2u);

        // The first key still holds its "Setting": it stays, the others go.
        if (e.setExport) {
            ASSERT_EQ(m_lib.call(e.setExport), 1);
        } else {
            RegistryStore store(userFile());
            ASSERT_TRUE(store.createKey(first + "\\Setting").setDword("VideoDecoder", 1));
        }
        {
            RegistryStore store(userFile());
            ASSERT_TRUE(store.createKey(family + "\\Default"));
            ASSERT_TRUE(store.createKey(family + "\\OpenVideo"));
        }
        EXPECT_EQ(m_lib.call(e.name), 1);
        EXPECT_EQ(subkeys(userFile(), family), (std::vector<std::string>{e.first, "Other"}));
        EXPECT_EQ(value(userFile(), first + "\\Setting", "VideoDecoder")->dword(), 1u);
    }
}

TEST_F(PurgekitTest, SingleKeyDeletesReportWhetherTheKeyWent) {
    // Missing key: 0, where a three-key export says 1.
    EXPECT_EQ(m_lib.call("DelKestrelSet"), 0);
    EXPECT_EQ(m_lib.call("DelNightjarSet"), 0);
    EXPECT_EQ(m_lib.call("DeleLookoutSet"), 1);

    // Dialscope's own profile and stores beside the key stay untouched.
    {
        RegistryStore store(userFile());
        ASSERT_TRUE(
            store.createKey("Software\\Kestrel-Lookout\\Dialscope\\Setting").setDword("CheckTimer", 30));
        ASSERT_TRUE(
            store.createKey("Software\\Kestrel-Lookout\\RemotePhone\\alice").setString("Dial", "555"));
        ASSERT_TRUE(
            store.createKey("Software\\Kestrel-Lookout\\RemotePerson\\20261207120000").setString("ID", "x"));
        ASSERT_TRUE(store.createKey("Software\\Kestrel-Lookout\\RemoteRecord\\clip1").setString("Open", "0"));
        ASSERT_TRUE(store.createKey("SOFTWARE\\KESTREL-LOOKOUT\\KESTREL").setDword("VideoDecoder", 1));
        ASSERT_TRUE(store.createKey("software\\Nightjar-Lookout\\Nightjar").setDword("v", 1));
        ASSERT_TRUE(store.createKey("software\\Nightjar-Lookout\\Other"));
    }
    EXPECT_EQ(m_lib.call("DelKestrelSet"), 1);
    EXPECT_EQ(subkeys(userFile(), "software\\kestrel-lookout"),
              (std::vector<std::string>{"Dialscope", "RemotePerson", "RemotePhone", "RemoteRecord"}));
    EXPECT_EQ(value(userFile(), "software\\Kestrel-Lookout\\Dialscope\\Setting", "CheckTimer")->dword(), 30u);
    EXPECT_EQ(value(userFile(), "software\\Kestrel-Lookout\\RemotePhone\\alice", "Dial")->data, "555");
    EXPECT_TRUE(hasKey(userFile(), "software\\Kestrel-Lookout\\RemotePerson\\20261207120000"));
    EXPECT_TRUE(hasKey(userFile(), "software\\Kestrel-Lookout\\RemoteRecord\\clip1"));
    EXPECT_EQ(m_lib.call("DelKestrelSet"), 0) << "already gone";

    EXPECT_EQ(m_lib.call("DelNightjarSet"), 1);
    EXPECT_EQ(subkeys(userFile(), "software\\Nightjar-Lookout"), std::vector<std::string>{"Other"});

    // A key with a subkey is not deleted.
    {
        RegistryStore store(userFile());
        ASSERT_TRUE(store.createKey("software\\Kestrel-Lookout\\Kestrel\\Setting"));
    }
    EXPECT_EQ(m_lib.call("DelKestrelSet"), 0);
    EXPECT_TRUE(hasKey(userFile(), "software\\Kestrel-Lookout\\Kestrel\\Setting"));
}

TEST_F(PurgekitTest, MachineWideValueIsWrittenAndOverwritten) {
    auto reg = m_lib.setuLookoutReg();
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg("Level", 7), 1);
    EXPECT_EQ(value(machineFile(), "software\\R8K2", "Level")->dword(), 7u);
    EXPECT_EQ(reg("LEVEL", 0xfffffffe), 1);
    EXPECT_EQ(value(machineFile(), "software\\r8k2", "level")->dword(), 0xfffffffeu);
    EXPECT_EQ(value(machineFile(), "software\\R8K2", "level")->type, RegType::Dword);
    EXPECT_EQ(reg("Other", 1), 1);
    {
        RegistryStore store(machineFile());
        EXPECT_EQ(store.openKey("software\\R8K2").values().size(), 2u);
    }
    // The per-user store gets nothing.
    EXPECT_FALSE(hasKey(userFile(), "software"));

    // A null name is refused before anything is touched.
    TempDir other("purgekit-null");
    useDir(other.path());
    EXPECT_EQ(reg(nullptr, 1), 0);
    EXPECT_FALSE(hasKey(other.file("machine.sqlite"), "software"));
}

TEST_F(PurgekitTest, FolderIsReadOnEveryCall) {
    TempDir second("purgekit-second");
    ASSERT_EQ(m_lib.call("SeteLookoutPAL"), 1);
    useDir(second.path());
    ASSERT_EQ(m_lib.call("SeteLookoutNTSC"), 1);
    EXPECT_EQ(value(userFile(), kDecoderExports[0].key, "VideoDecoder")->dword(), 1u);
    EXPECT_EQ(value(second.file("user.sqlite"), kDecoderExports[0].key, "VideoDecoder")->dword(), 0u);
}

// Deleting looks at a store without making one; with no private folder for
// the per-user store at all, every per-user export fails.
TEST_F(PurgekitTest, DeletesCreateNoStoreAndNoHomeMeansFailure) {
    for (const char* name : {"DelaMLookoutSet", "DelKestrelSet", "DelNightjarSet"})
        m_lib.call(name);
    EXPECT_FALSE(std::filesystem::exists(userFile()));

    const auto saved = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto home = saved("HOME"), config = saved("XDG_CONFIG_HOME");
    unsetenv("DIALSCOPE_REGISTRY_DIR");
    unsetenv("HOME");
    setenv("XDG_CONFIG_HOME", "relative", 1); // not a folder the XDG rules accept
    EXPECT_EQ(m_lib.call("DeleLookoutSet"), 0);
    EXPECT_EQ(m_lib.call("DelKestrelSet"), 0);
    EXPECT_EQ(m_lib.call("SeteLookoutPAL"), 0);
    EXPECT_FALSE(std::filesystem::exists("relative"));
    home ? setenv("HOME", home->c_str(), 1) : unsetenv("HOME");
    config ? setenv("XDG_CONFIG_HOME", config->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
}

TEST_F(PurgekitTest, CallsFromSeveralThreadsAllLand) {
    auto reg = m_lib.setuLookoutReg();
    constexpr int kThreads = 4;
    constexpr int kCalls = 40;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const DecoderExport& mine = kDecoderExports[t % 4];
            for (int i = 0; i < kCalls; ++i) {
                std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
                if (reg(name.c_str(), uint32_t(i)) != 1)
                    ++failures[size_t(t)];
                if (m_lib.call(i % 2 ? mine.pal : mine.ntsc) != 1)
                    ++failures[size_t(t)];
                m_lib.call("DelKestrelSet");
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    RegistryStore machine(machineFile());
    EXPECT_TRUE(machine.checkIntegrity());
    EXPECT_EQ(machine.openKey("software\\R8K2").values().size(), size_t(kThreads * kCalls));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[size_t(t)], 0) << t;
        EXPECT_EQ(value(userFile(), kDecoderExports[t % 4].key, "VideoDecoder")->dword(), 1u);
    }
}

// A program calling the library and Dialscope's own store writes at the same
// time: neither loses a write nor fails for a busy file.
TEST_F(PurgekitTest, AnotherProcessCallingTheLibraryAlongsideTheStore) {
    constexpr int kCalls = 150;
    ChildProcess caller({PURGEKIT_CALLER, PURGEKIT_PATH, "loop", std::to_string(kCalls)});
    ASSERT_TRUE(caller.running());
    int failures = 0;
    for (int i = 0; i < kCalls; ++i) {
        RegistryStore machine(machineFile());
        if (!machine.createKey("software\\R8K2").setDword("S" + std::to_string(i), uint32_t(i)))
            ++failures;
        RegistryStore user(userFile());
        if (!user.createKey("software\\Kestrel-Lookout\\Dialscope\\Setting")
                 .setDword("CheckTimer", uint32_t(i)))
            ++failures;
    }
    int status = caller.wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "calls in the other process failed";
    EXPECT_EQ(failures, 0);

    RegistryStore machine(machineFile());
    EXPECT_TRUE(machine.checkIntegrity());
    RegistryKey r8k2 = machine.openKey("software\\R8K2");
    for (int i = 0; i < kCalls; ++i) {
        EXPECT_EQ(r8k2.queryValue("P" + std::to_string(i))->dword(), uint32_t(i));
        EXPECT_EQ(r8k2.queryValue("S" + std::to_string(i))->dword(), uint32_t(i));
    }
    EXPECT_EQ(value(userFile(), "software\\Kestrel-Lookout\\Dialscope\\Setting", "CheckTimer")->dword(),
              uint32_t(kCalls - 1));
}

// Writing the machine-wide store needs rights the caller may not have.
TEST_F(PurgekitTest, MachineStoreTheCallerMayNotWrite) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the call as another user";
    auto callAsNobody = [&] {
        ChildProcess caller({PURGEKIT_CALLER, PURGEKIT_PATH, "as-nobody", "Level", "5"});
        std::string out = caller.readAll();
        int status = caller.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return out;
    };
    // A root-only folder without a store: nothing is created.
    struct stat st {};
    ASSERT_EQ(::stat(m_dir.path().c_str(), &st), 0);
    ASSERT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(callAsNobody(), "0\n");
    EXPECT_FALSE(std::filesystem::exists(machineFile()));

    // An existing root-owned store in that folder stays as it is.
    {
        RegistryStore store(machineFile());
        ASSERT_TRUE(store.createKey("software\\R8K2").setDword("Level", 1));
    }
    const std::string before = readBytes(machineFile());
    EXPECT_EQ(callAsNobody(), "0\n");
    EXPECT_EQ(readBytes(machineFile()), before);

    // A store the caller may read but not write.
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(machineFile().c_str(), 0644), 0);
    EXPECT_EQ(callAsNobody(), "0\n");
    EXPECT_EQ(readBytes(machineFile()), before);
    EXPECT_EQ(value(machineFile(), "software\\R8K2", "Level")->dword(), 1u);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0700), 0);
}

TEST_F(PurgekitTest, MachineStoreInAFolderWithoutWriteRights) {
    if (geteuid() == 0)
        GTEST_SKIP()
            << "root writes regardless of permissions; covered by the test that drops to another user";
    auto reg = m_lib.setuLookoutReg();
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0500), 0);
    EXPECT_EQ(reg("Level", 5), 0);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0700), 0);
    EXPECT_FALSE(std::filesystem::exists(machineFile()));
}

} // namespace
