#include "RegistryStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

// The application store groups key creation and value writes in batches and
// enumerates keys inside and after them: the enumeration must follow.
TEST(RegistryBatchTest, EnumerationSeesKeysCreatedAndRolledBackInsideABatch) {
    TempDir dir;
    RegistryStore store(dir.file("user.sqlite"));
    RegistryKey parent = store.createKey("store");
    ASSERT_FALSE(parent.subkeyName(0));
    {
        WriteBatch batch(store);
        ASSERT_TRUE(parent.createSubkey("entry"));
        EXPECT_EQ(parent.subkeyName(0), "entry");
        // no commit: rolled back
    }
    EXPECT_EQ(parent.subkeyCount(), 0u);
    EXPECT_FALSE(parent.subkeyName(0));
    {
        WriteBatch batch(store);
        ASSERT_TRUE(parent.createSubkey("kept"));
        ASSERT_TRUE(parent.createSubkey("gone"));
        EXPECT_EQ(parent.subkeyName(1), "kept");
        ASSERT_TRUE(parent.deleteSubkey("gone"));
        EXPECT_EQ(parent.subkeyName(0), "kept");
        EXPECT_FALSE(parent.subkeyName(1));
        ASSERT_TRUE(batch.commit());
    }
    EXPECT_EQ(parent.subkeyName(0), "kept");
}

// The application's loads take whole stores in one query; they must see
// exactly what key-by-key reads see, whatever the keys hold.
TEST(RegistryEnumerationTest, BulkEnumerationMatchesKeyByKeyReads) {
    TempDir dir;
    RegistryStore store(dir.file("user.sqlite"));
    RegistryKey parent = store.createKey("store");
    RegistryKey many = parent.createSubkey("a-many");
    for (const char* name : {"One", "Two", "Three", "Four"})
        ASSERT_TRUE(many.setString(name, std::string(40, name[0])));
    ASSERT_TRUE(parent.createSubkey("b-none"));
    ASSERT_TRUE(parent.createSubkey("C-one").setDword("Only", 7));
    ASSERT_TRUE(parent.createSubkey("c-one\\grandchild").setString("Deep", "x"));

    std::vector<SubkeyValues> bulk = parent.subkeysWithValues();
    std::vector<std::string> visited;
    parent.forEachSubkeyWithValues([&](SubkeyValues& subkey) { visited.push_back(subkey.name); });
    ASSERT_EQ(bulk.size(), 3u);
    ASSERT_EQ(visited.size(), 3u);
    for (uint32_t i = 0; i < bulk.size(); ++i) {
        EXPECT_EQ(bulk[i].name, parent.subkeyName(i));
        EXPECT_EQ(visited[i], bulk[i].name);
        std::vector<NamedValue> direct = parent.openSubkey(bulk[i].name).values();
        ASSERT_EQ(bulk[i].values.size(), direct.size()) << bulk[i].name;
        for (const NamedValue& v : direct) {
            const RegValue* found = bulk[i].find(v.name);
            ASSERT_TRUE(found) << bulk[i].name << "/" << v.name;
            EXPECT_EQ(found->type, v.value.type);
            EXPECT_EQ(found->data, v.value.data);
        }
    }
    EXPECT_EQ(bulk[2].name, "C-one");
    EXPECT_EQ(bulk[2].values.size(), 1u);
    EXPECT_TRUE(store.createKey("empty").subkeysWithValues().empty());
}

} // namespace
