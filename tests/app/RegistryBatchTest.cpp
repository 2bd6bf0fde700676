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

} // namespace
