// The connect dialog's rules without widgets: the slider steps, what opens
// from the stored "Call" values, and what the login takes from them.
#include "connect/ConnectForm.h"
#include "connect/AppConnectionStore.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace ConnectForm;

TEST(ConnectFormTest, SliderStepsStayWithinTheRangeAndOtherNotificationsKeepThePosition) {
    const struct {
        SliderAction action;
        int position;
        int thumb;
        std::optional<int> expected;
    } cases[] = {
        {SliderAction::LineLeft, 0, 0, 0},           {SliderAction::LineLeft, 30, 0, 29},
        {SliderAction::LineRight, 100, 0, 100},      {SliderAction::LineRight, 99, 0, 100},
        {SliderAction::PageLeft, 5, 0, 0},           {SliderAction::PageLeft, 30, 0, 20},
        {SliderAction::PageRight, 95, 0, 100},       {SliderAction::PageRight, 90, 0, 100},
        {SliderAction::PageRight, 0, 0, 10},         {SliderAction::ThumbPosition, 30, 77, 77},
        {SliderAction::Other, 30, 77, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.action) << " from " << c.position);
        EXPECT_EQ(qualityAfter(c.action, c.position, c.thumb), c.expected);
    }
}

TEST(ConnectFormTest, OpeningClampsQualityPicksTheSizeAndShowsThePasswordOnlyWhenSaved) {
    CallSettings stored{"op", "pw", "555", 1, 150, 0};
    Fields fields = fromStored(stored);
    EXPECT_EQ(fields.quality, 30);
    EXPECT_EQ(fields.imageSize, 1);
    EXPECT_TRUE(fields.password.isEmpty());
    EXPECT_FALSE(fields.savePassword);

    for (int quality : {-1, 101, 0, 100}) {
        stored.quality = quality;
        EXPECT_EQ(fromStored(stored).quality, quality < 0 || quality > 100 ? 30 : quality) << quality;
    }
    for (int size : {0, 2, -1}) {
        stored.formatSize = size;
        EXPECT_EQ(fromStored(stored).imageSize, 0) << size;
    }
    stored.save = 2; // only exactly 1 shows the password
    EXPECT_TRUE(fromStored(stored).password.isEmpty());
    stored.save = 1;
    EXPECT_EQ(fromStored(stored).password, "pw");
    EXPECT_TRUE(fromStored(stored).savePassword);
}

TEST(ConnectFormTest, CredentialsAreStoredAsLatin1AndEarlierUtf8ValuesReadBackAsTyped) {
    Fields typed;
    typed.user = QStringLiteral("M\u00FCller");
    typed.password = QStringLiteral("\u00E9t\u00E9");
    typed.savePassword = true;
    CallSettings stored = toStored(typed);
    EXPECT_EQ(stored.user, "M\xFCller");
    EXPECT_EQ(stored.password, "\xE9t\xE9");
    EXPECT_EQ(fromStored(stored).user, typed.user);
    EXPECT_EQ(fromStored(stored).password, typed.password);

    // Values written by earlier builds as UTF-8 show and log in as typed; bytes
    // that are no UTF-8, or UTF-8 beyond Latin-1, are kept as they are.
    const struct {
        std::string stored, sent;
    } cases[] = {{"M\xC3\xBCller", "M\xFCller"},
                 {"M\xFCller", "M\xFCller"},
                 {"\xD0\x96uk", "\xD0\x96uk"},
                 {"plain", "plain"},
                 {"", ""}};
    TempDir dir;
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
    for (const auto& c : cases) {
        ASSERT_TRUE(store.saveCallSettings({c.stored, c.stored, "555", 1, 30, 1}));
        const LoginValues login = AppConnectionStore(store).loginValues();
        EXPECT_EQ(login.user, c.sent) << c.stored;
        EXPECT_EQ(login.password, c.sent) << c.stored;
        EXPECT_EQ(toStored(fromStored(store.callSettings())).user, c.sent) << c.stored;
    }
    typed.user = QStringLiteral("\u0416uk"); // only reachable around the edits
    EXPECT_EQ(toStored(typed).user, "?uk");
}

TEST(ConnectFormTest, TheLoginTakesTheStoredCallValuesAndSiteRecordsBecomeEvents) {
    TempDir dir;
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
    AppConnectionStore connection(store);

    const LoginValues defaults = connection.loginValues();
    EXPECT_EQ(defaults.user, "");
    EXPECT_EQ(defaults.formatSize, 1);
    EXPECT_EQ(defaults.quality, 30);

    // "Save" off: the dialog hides the password, the login still sends it.
    ASSERT_TRUE(store.saveCallSettings({"op", "secret", "555", 0, 80, 0}));
    const LoginValues login = connection.loginValues();
    EXPECT_EQ(login.user, "op");
    EXPECT_EQ(login.password, "secret");
    EXPECT_EQ(login.formatSize, 0);
    EXPECT_EQ(login.quality, 80);

    EXPECT_TRUE(connection.videoArrangeOn()); // missing counts as on
    store.SetSetting(AppStore::kVideoArrange, 0);
    EXPECT_FALSE(connection.videoArrangeOn());

    std::array<uint8_t, Wire::kSiteRecordSize> record{};
    std::memcpy(record.data(), "North Gate", 10);
    std::memcpy(record.data() + 30, "555 0101", 8);
    store.setClock([] { return std::time_t(1700000000); });
    ASSERT_TRUE(connection.AddEventRecord(record));
    std::vector<EventRecord> events;
    store.LoadEventRecords(events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text(EventRecord::kName), "North Gate");
    EXPECT_EQ(events[0].text(EventRecord::kTel), "555 0101");
}
