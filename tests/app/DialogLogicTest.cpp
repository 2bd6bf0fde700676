#include "OptionsValues.h"
#include "PhoneBookModel.h"
#include "TempAppStore.h"

#include <gtest/gtest.h>

namespace {

TEST(OptionsValuesTest, ReadsDefaultsFromAnEmptyStoreAndReplacesUnusableNumbers) {
    TempAppStore temp;
    AppStore& store = temp.store();
    OptionsValues empty = OptionsValues::Read(store);
    EXPECT_FALSE(empty.autoRun);
    EXPECT_TRUE(empty.autoArrange);
    EXPECT_EQ(empty.lowSpaceMB, 50u);
    EXPECT_EQ(empty.checkSeconds, 10u);

    struct Case {
        int32_t arrange, lowSpace, check, autoRun;
        bool wantArrange;
        uint32_t wantLowSpace, wantCheck;
        bool wantAutoRun;
    };
    const Case cases[] = {
        {0, 0, 0, 1, false, 50, 10, true},         // 0 MB and 0 s are unusable
        {2, 9999, 300, 2, true, 9999, 300, false}, // the upper bounds hold; AutoRun only when 1
        {-5, 10000, 301, 0, true, 50, 10, false},  // just above the bounds
        {1, -1, -2, -1, true, 50, 10, false},      // negative numbers are huge unsigned
        {1, 1, 1, 1, true, 1, 1, true},
    };
    for (const Case& c : cases) {
        store.SetSetting(AppStore::kVideoArrange, c.arrange);
        store.SetSetting(AppStore::kLimitDiskSpace, c.lowSpace);
        store.SetSetting(AppStore::kCheckTimer, c.check);
        store.SetSetting(AppStore::kAutoRun, c.autoRun);
        OptionsValues v = OptionsValues::Read(store);
        EXPECT_EQ(v.autoArrange, c.wantArrange) << c.arrange;
        EXPECT_EQ(v.lowSpaceMB, c.wantLowSpace) << c.lowSpace;
        EXPECT_EQ(v.checkSeconds, c.wantCheck) << c.check;
        EXPECT_EQ(v.autoRun, c.wantAutoRun) << c.autoRun;
    }
}

TEST(OptionsValuesTest, StoresAllFourValues) {
    TempAppStore temp;
    AppStore& store = temp.store();
    OptionsValues{false, 0, 300, true}.Store(store);
    EXPECT_EQ(store.GetSetting(AppStore::kVideoArrange), 0);
    EXPECT_EQ(store.GetSetting(AppStore::kLimitDiskSpace), 0);
    EXPECT_EQ(store.GetSetting(AppStore::kCheckTimer), 300);
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 1);
    OptionsValues{true, 50, 10, false}.Store(store);
    EXPECT_EQ(store.GetSetting(AppStore::kVideoArrange), 1);
    EXPECT_EQ(store.GetSetting(AppStore::kAutoRun), 0);
}

TEST(OptionsValuesTest, NumberFieldsTakeUnsignedDecimalsWithinTheirRange) {
    const QString notANumber = "Please enter a positive integer.";
    struct Case {
        const char* text;
        uint32_t min, max;
        std::optional<uint32_t> value;
        QString message;
    };
    const Case cases[] = {
        {"0", 0, 9999, 0u, {}},
        {"9999", 0, 9999, 9999u, {}},
        {"0050", 0, 9999, 50u, {}},
        {" 42 ", 0, 9999, 42u, {}},
        {"10000", 0, 9999, {}, "Please enter an integer between 0 and 9999."},
        {"0", 1, 300, {}, "Please enter an integer between 1 and 300."},
        {"301", 1, 300, {}, "Please enter an integer between 1 and 300."},
        {"4294967296", 1, 300, {}, "Please enter an integer between 1 and 300."},
        {"99999999999999999999999", 0, 9999, {}, "Please enter an integer between 0 and 9999."},
        {"", 0, 9999, {}, notANumber},
        {"   ", 0, 9999, {}, notANumber},
        {"-1", 0, 9999, {}, notANumber},
        {"+5", 0, 9999, {}, notANumber},
        {"12a", 0, 9999, {}, notANumber},
        {"1 2", 0, 9999, {}, notANumber},
        {"\xd9\xa3", 0, 9999, {}, notANumber}, // an Arabic-Indic digit is no decimal digit here
    };
    for (const Case& c : cases) {
        NumberCheck check = CheckNumberField(QString::fromUtf8(c.text), c.min, c.max);
        EXPECT_EQ(check.value, c.value) << c.text;
        EXPECT_EQ(check.message, c.message) << c.text;
    }
}

std::vector<std::string> RowNames(const PhoneBookModel& model) {
    std::vector<std::string> names;
    for (const auto& row : model.rows())
        names.push_back(row.name);
    return names;
}

TEST(PhoneBookModelTest, RowsAreSortedIgnoringCaseWhateverTheStoreOrder) {
    PhoneBookModel model(
        {{"delta", "", "4", ""}, {"Bravo", "", "2", ""}, {"alpha", "", "1", ""}, {"Charlie", "", "3", ""}});
    EXPECT_EQ(RowNames(model), (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
    EXPECT_EQ(model.rows()[1].dial, "2");

    PhoneBookModel::RowChange change = model.upsertRow({"beta", "", "9", "note"});
    EXPECT_TRUE(change.inserted);
    EXPECT_EQ(change.index, 1);
    change = model.upsertRow({"zulu", "", "", ""});
    EXPECT_EQ(change.index, 5);
    EXPECT_EQ(model.findRow("CHARLIE"), 3);
    EXPECT_EQ(model.findRow("charli"), -1);
}

TEST(PhoneBookModelTest, ANameDifferingOnlyInCaseSharesTheRowButAddsAnEntry) {
    PhoneBookModel model({{"bob", "old", "111", "first"}});
    PhoneEntry later{"BOB", "new", "222", "second"};
    PhoneBookModel::RowChange change = model.upsertRow(later);
    model.upsertEntry(later);
    EXPECT_FALSE(change.inserted);
    ASSERT_EQ(model.rows().size(), 1u);
    EXPECT_EQ(model.rows()[0].name, "bob") << "the row keeps the first spelling";
    EXPECT_EQ(model.rows()[0].dial, "222");
    EXPECT_EQ(model.rows()[0].memo, "second");
    ASSERT_EQ(model.entries().size(), 2u);
    // The store keeps one password for both spellings, so the row's own
    // spelling yields the new one too.
    EXPECT_EQ(model.passwordOf("bob"), "new");
    EXPECT_EQ(model.passwordOf("BOB"), "new");
    EXPECT_EQ(model.passwordOf("Bob"), std::nullopt);

    model.removeRow(0);
    EXPECT_TRUE(model.rows().empty());
    EXPECT_TRUE(model.entries().empty()) << "deleting the one key removes every spelling";
}

TEST(PhoneBookModelTest, AddingAnExistingNameUpdatesRowAndEntryInPlace) {
    PhoneBookModel model({{"alice", "pw1", "100", "a"}, {"carol", "pw3", "300", "c"}});
    PhoneEntry update{"alice", "pw9", "199", "z"};
    PhoneBookModel::RowChange change = model.upsertRow(update);
    model.upsertEntry(update);
    EXPECT_EQ(change.index, 0);
    EXPECT_FALSE(change.inserted);
    EXPECT_EQ(model.rows().size(), 2u);
    ASSERT_EQ(model.entries().size(), 2u);
    EXPECT_EQ(model.entries()[0].PassWord, "pw9");
    EXPECT_EQ(model.entries()[0].Dial, "199");
    EXPECT_EQ(model.passwordOf("carol"), "pw3");

    model.removeRow(5); // no such row: nothing happens
    model.removeRow(-1);
    EXPECT_EQ(model.rows().size(), 2u);
}

} // namespace
