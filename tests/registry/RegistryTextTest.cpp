// The store's text form: every line kind parsed or rejected, values written
// and read back unchanged, and the import's transactions.
#include "platform/registry/RegistryText.h"
#include "platform/registry/RegistryImport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Kind = RegTextLine::Kind;

TEST(RegistryText, LinesParseOrAreRejected) {
    struct Case {
        const char* line;
        Kind kind;
    };
    const Case cases[] = {
        {"", Kind::Blank},
        {"   \t", Kind::Blank},
        {"[HKCU\\software\\Kestrel-Lookout]", Kind::Key},
        {"[HKEY_LOCAL_MACHINE\\software]\r", Kind::Key},
        {"[HKCU]", Kind::Key},
        {"[HKXX\\software]", Kind::Bad},
        {"[HKCU\\software", Kind::Bad},
        {"  \"CheckTimer\" = dword:0000001e (30)", Kind::Value},
        {"  \"Modem\" = dword:ffffffff (-1)", Kind::Value},
        {"  \"Modem\" = dword:ffffffff (4294967295)", Kind::Bad}, // decimal disagrees
        {"  \"Modem\" = dword:fffffff (-1)", Kind::Bad},
        {"  \"Modem\" = dword:fffffffg (-1)", Kind::Bad},
        {"  \"Memo\" = sz[3]:\"a\\x00\\xe9\"", Kind::Value},
        {"  \"Memo\" = sz[4]:\"a\\x00\\xe9\"", Kind::Bad}, // length disagrees
        {"  \"Memo\" = sz[3]:\"a\\x0\"", Kind::Bad},
        {"  \"Memo\" = sz[1]:\"a\\q\"", Kind::Bad},
        {"  \"Memo\" = sz[1]:\"a", Kind::Bad},
        {"  \"Memo\" = sz[1]:\"a\" trailing", Kind::Bad},
        {"  \"Memo\" = sz[99999999999]:\"a\"", Kind::Bad},
        {"  \"Short\" = dword[2]:\"\\x01\\x02\"", Kind::Value},
        {"  \"Blob\" = binary[0]:\"\"", Kind::Value},
        {"  \"Blob\" = qword[0]:\"\"", Kind::Bad},
        {"  \"Na\\\"me\" = sz[0]:\"\"", Kind::Value},
        {"  \"Name\"= sz[0]:\"\"", Kind::Bad},
        {"  Name = sz[0]:\"\"", Kind::Bad},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseRegTextLine(c.line).kind, c.kind) << c.line;

    const RegTextLine key = parseRegTextLine("[HKLM\\software\\R8K2]");
    EXPECT_EQ(key.key.root, RegistryRoot::LocalMachine);
    EXPECT_EQ(key.key.path, "software\\R8K2");
    const RegTextLine name = parseRegTextLine("  \"Na\\\"me\" = dword:00000010 (16)");
    EXPECT_EQ(name.value.name, "Na\"me");
    EXPECT_EQ(name.value.value.dword(), 16u);
}

TEST(RegistryText, EveryValueReadsBackAsWritten) {
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += char(b);
    const std::vector<NamedValue> values = {
        {"Plain", RegValue::fromString("Dial \"scope\" \\ path")},
        {"Bytes \x01\xff", RegValue::fromString(everyByte)},
        {"Zero", RegValue::fromDword(0)},
        {"Negative", RegValue::fromDword(0x80000000u)},
        {"Odd dword", {RegType::Dword, "\x01\x02\x03"s}},
        {"Blob", {RegType::Binary, "\0\0"s}},
        {"Empty", RegValue::fromString("")},
    };
    for (const NamedValue& v : values) {
        const std::string line = "  \"" + escapeRegText(v.name) + "\" = " + describeRegValue(v.value);
        const RegTextLine parsed = parseRegTextLine(line);
        ASSERT_EQ(parsed.kind, Kind::Value) << line;
        EXPECT_EQ(parsed.value.name, v.name);
        EXPECT_EQ(parsed.value.value.type, v.value.type) << line;
        EXPECT_EQ(parsed.value.value.data, v.value.data) << line;
    }
}

class RegistryImportTest : public ::testing::Test {
protected:
    RegistryStore* storeFor(RegistryRoot root) {
        return root == RegistryRoot::CurrentUser ? &user : &machine;
    }
    bool run(RegistryImport& import, const std::vector<std::string>& lines) {
        for (const std::string& line : lines)
            if (!import.addLine(line))
                return false;
        return import.finish();
    }

    TempDir dir{"registry-import"};
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
};

TEST_F(RegistryImportTest, KeysAndValuesLandInTheirRootsAndKeepWhatTheTextDoesNotName) {
    ASSERT_TRUE(user.createKey("software\\K\\Setting").setString("Kept", "yes"));
    RegistryImport import([this](RegistryRoot root) { return storeFor(root); }, 2);
    ASSERT_TRUE(run(import, {"[HKCU\\software\\K\\Setting]", "  \"CheckTimer\" = dword:0000001e (30)", "",
                             "[HKLM\\software\\R8K2]", "  \"Level\" = dword:00000010 (16)",
                             "[HKCU\\software\\K\\RemoteRecord\\a.avi]", "  \"Open\" = dword:00000001 (1)",
                             "[HKCU\\software\\K\\RemoteRecord\\b.avi]",
                             "[HKCU\\software\\K\\RemoteRecord\\c.avi]", "  \"Path\" = sz[5]:\"/tmp/\""}))
        << import.error();
    EXPECT_EQ(import.keys(), 5u);
    EXPECT_EQ(import.values(), 4u);
    EXPECT_EQ(user.openKey("software\\K\\Setting").queryValue("CheckTimer")->dword(), 30u);
    EXPECT_EQ(user.openKey("software\\K\\Setting").queryValue("Kept")->data, "yes");
    EXPECT_EQ(machine.openKey("software\\R8K2").queryValue("Level")->dword(), 16u);
    EXPECT_FALSE(user.openKey("software\\R8K2"));
    EXPECT_EQ(user.openKey("software\\K\\RemoteRecord").subkeyCount(), 3u);
    EXPECT_EQ(user.openKey("software\\K\\RemoteRecord\\c.avi").queryValue("Path")->data, "/tmp/");
}

TEST_F(RegistryImportTest, ABadLineStopsTheImportAndRollsBackOnlyTheTransactionUnderWay) {
    RegistryImport import([this](RegistryRoot root) { return storeFor(root); }, 2);
    EXPECT_FALSE(run(import, {"[HKCU\\R\\one]", "[HKCU\\R\\two]", // first transaction
                              "[HKCU\\R\\three]", "  \"V\" = sz[1]:\"x\"", "  \"V\" = sz[9]:\"x\""}));
    EXPECT_EQ(import.line(), 5u);
    EXPECT_FALSE(import.error().empty());
    EXPECT_FALSE(import.addLine("[HKCU\\R\\four]"));
    EXPECT_TRUE(user.openKey("R\\one"));
    EXPECT_TRUE(user.openKey("R\\two"));
    EXPECT_FALSE(user.openKey("R\\three"));
    EXPECT_FALSE(user.openKey("R\\four"));

    RegistryImport orphan([this](RegistryRoot root) { return storeFor(root); });
    EXPECT_FALSE(orphan.addLine("  \"V\" = sz[1]:\"x\""));
    RegistryImport nowhere([](RegistryRoot) { return nullptr; });
    EXPECT_FALSE(nowhere.addLine("[HKCU\\R]"));
}

} // namespace
