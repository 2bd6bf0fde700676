#include "app/core/OptionsValues.h"
#include "app/core/PhoneBookModel.h"
#include "tests/app/TempAppStore.h"

#include <gtest/gtest.h>

namespace {

TEST(OptionsValuesTest, ReadsDefaultsForMissingOrUnusableStoredValues) {
    TempAppStore temp;
    AppStore& store = temp.store();
    struct Case {
        int32_t arrange, lowSpace, check, autoRun; // -2 leaves the value missing
        bool wantArrange;
        uint32_t wantLowSpace, wantCheck;
        bool wantAutoRun;
    };
    const Case cases[] = {
        {-2, -2, -2, -2, true, 50, 10, false},     // an empty store
        {0, 0, 0, 1, false, 50, 10, true},         // 0 MB and 0 s are unusable
        {2, 9999, 300, 2, true, 9999, 300, false}, // the upper bounds hold; AutoRun only when 1
        {1, 10000, 301, 0, true, 50, 10, false},   // just above the bounds
        {1, -1, -3, -1, true, 50, 10, false},      // negative numbers are huge unsigned
    };
    const int ids[] = {AppStore::kVideoArrange, AppStore::kLimitDiskSpace, AppStore::kCheckTimer,
                       AppStore::kAutoRun};
    for (const Case& c : cases) {
        const int32_t values[] = {c.arrange, c.lowSpace, c.check, c.autoRun};
        for (int i = 0; i < 4; ++i)
            if (values[i] != -2)
                store.SetSetting(ids[i], values[i]);
        OptionsValues v = OptionsValues::read(store);
        EXPECT_EQ(v.autoArrange, c.wantArrange) << c.arrange;
        EXPECT_EQ(v.lowSpaceMB, c.wantLowSpace) << c.lowSpace;
        EXPECT_EQ(v.checkSeconds, c.wantCheck) << c.check;
        EXPECT_EQ(v.autoRun, c.wantAutoRun) << c.autoRun;
    }
}

TEST(OptionsValuesTest, NumberFieldsTakeUnsignedDecimalsWithinTheirRange) {
    const QString nan = "Please enter a positive integer.";
    const QString mb = "Please enter an integer between 0 and 9999.";
    struct Case {
        const char* text;
        std::optional<uint32_t> value;
        QString message;
    };
    const Case cases[] = {
        {"0", 0u, {}},     {"9999", 9999u, {}},    {" 0050 ", 50u, {}},
        {"10000", {}, mb}, {"4294967296", {}, mb}, {"99999999999999999999999", {}, mb},
        {"", {}, nan},     {"-1", {}, nan},        {"+5", {}, nan},
        {"1 2", {}, nan},  {"\xd9\xa3", {}, nan}, // Arabic-Indic 3
    };
    for (const Case& c : cases) {
        NumberCheck check = checkNumberField(QString::fromUtf8(c.text), 0, 9999);
        EXPECT_EQ(check.value, c.value) << c.text;
        EXPECT_EQ(check.message, c.message) << c.text;
    }
    EXPECT_EQ(checkNumberField("0", 1, 300).message, "Please enter an integer between 1 and 300.");
}

TEST(PhoneBookModelTest, RowsAreSortedAndFoundIgnoringCaseWhateverTheStoreOrder) {
    PhoneBookModel model({{"delta", "", "4", ""}, {"Bravo", "", "2", ""}, {"alpha", "", "1", ""}});
    EXPECT_EQ(model.upsertRow({"charlie", "", "3", ""}).index, 2);
    std::vector<std::string> names;
    for (const auto& row : model.rows())
        names.push_back(row.name);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Bravo", "charlie", "delta"}));
    EXPECT_EQ(model.findRow("BRAVO"), 1);
    EXPECT_EQ(model.findRow("brav"), -1);
}

TEST(PhoneBookModelTest, ANameDifferingOnlyInCaseSharesTheRowButAddsAnEntry) {
    PhoneBookModel model({{"bob", "old", "111", "first"}});
    PhoneEntry later{"BOB", "new", "222", "second"};
    EXPECT_FALSE(model.upsertRow(later).inserted);
    model.upsertEntry(later);
    ASSERT_EQ(model.rows().size(), 1u);
    EXPECT_EQ(model.rows()[0].name, "bob") << "the row keeps the first spelling";
    EXPECT_EQ(model.rows()[0].dial, "222");
    EXPECT_EQ(model.entries().size(), 2u);
    // The store keeps one password for both spellings, so the row's own
    // spelling yields the new one too.
    EXPECT_EQ(model.passwordOf("bob"), "new");
    EXPECT_EQ(model.passwordOf("Bob"), std::nullopt);

    model.removeRow(0);
    EXPECT_TRUE(model.entries().empty()) << "deleting the one key removes every spelling";
}

} // namespace
