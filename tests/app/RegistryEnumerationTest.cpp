#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

// The application's stores create keys inside batches and enumerate them
// there and afterwards; whole stores are loaded in one query.
TEST(RegistryEnumerationTest, EnumerationFollowsBatchesAndBulkReadsMatchKeyReads) {
    TempDir dir;
    RegistryStore store(dir.file("user.sqlite"));
    RegistryKey parent = store.createKey("store");
    ASSERT_FALSE(parent.subkeyName(0));
    {
        WriteBatch batch(store);
        ASSERT_TRUE(parent.createSubkey("rolled-back"));
        EXPECT_EQ(parent.subkeyName(0), "rolled-back");
    }
    EXPECT_FALSE(parent.subkeyName(0));

    RegistryKey many = parent.createSubkey("a-many");
    for (const char* name : {"One", "Two", "Three", "Four"})
        ASSERT_TRUE(many.setString(name, std::string(40, name[0])));
    ASSERT_TRUE(parent.createSubkey("b-none"));
    ASSERT_TRUE(parent.createSubkey("C-one").setDword("Only", 7));
    ASSERT_TRUE(parent.createSubkey("C-one\\grandchild").setString("Deep", "x"));

    // Value slots are reused from key to key: none may leak into the next.
    std::vector<size_t> seen;
    parent.forEachSubkeyWithValues([&seen](SubkeyValues& subkey) { seen.push_back(subkey.values.size()); });
    EXPECT_EQ(seen, (std::vector<size_t>{4, 0, 1}));
    std::vector<SubkeyValues> bulk = parent.subkeysWithValues();
    ASSERT_EQ(bulk.size(), 3u);
    for (uint32_t i = 0; i < bulk.size(); ++i) {
        EXPECT_EQ(bulk[i].name, parent.subkeyName(i));
        std::vector<NamedValue> direct = parent.openSubkey(bulk[i].name).values();
        ASSERT_EQ(bulk[i].values.size(), direct.size()) << bulk[i].name;
        for (const NamedValue& v : direct)
            EXPECT_EQ(bulk[i].find(v.name)->data, v.value.data) << v.name;
    }
}

} // namespace
