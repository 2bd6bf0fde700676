// Clip retention: which clips the planner chooses and in which order, and a
// whole pass over a real record folder and clip index with an injected free
// space, including the guards that keep clips and entries that must stay.
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipsInUse.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"
#include "unattended/RetentionPlanner.h"
#include "unattended/RetentionWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

RetentionClip Clip(const std::string& name, const std::string& date, const std::string& time,
                   uint64_t bytes) {
    RetentionClip c;
    c.fileName = name;
    c.folder = "/rec/";
    c.sDate = date;
    c.sTime = time;
    c.bytes = bytes;
    return c;
}

std::vector<std::string> names(const std::vector<RetentionClip>& clips, const std::vector<size_t>& picked) {
    std::vector<std::string> names;
    for (size_t i : picked)
        names.push_back(clips[i].fileName);
    return names;
}

const auto kNoneInUse = [](const RetentionClip&) {
    return false;
};

TEST(RetentionPlanner, StartKeysTakeOnlyWellFormedDatesAndTimes) {
    EXPECT_EQ(retentionStartKey("2024/03/05", "14:07"), 202403051407u);
    for (auto [d, t] : std::vector<std::pair<const char*, const char*>>{{"2024/3/05", "14:07"},
                                                                        {"2024/13/05", "14:07"},
                                                                        {"2024/03/05", "24:00"},
                                                                        {"2024/03/05", "14:7"},
                                                                        {"2024-03-05", "14:07"},
                                                                        {"", ""},
                                                                        {"2024/03/0x", "14:07"},
                                                                        {"0000/03/05", "14:07"}})
        EXPECT_EQ(retentionStartKey(d, t), 0u) << d << " " << t;
    EXPECT_EQ(retentionTargetBytes(1000), 1100u);
}

TEST(RetentionPlanner, FreeSpaceRuleDeletesOldestFirstUntilTenPercentAboveTheLimit) {
    // Stored out of order; two share a start minute (then by name).
    std::vector<RetentionClip> clips = {
        Clip("c", "2024/03/05", "10:00", 300),        Clip("a2", "2024/01/01", "09:00", 300),
        Clip("new", "2025/01/01", "00:00", 300),      Clip("a1", "2024/01/01", "09:00", 300),
        Clip("bad-date", "2023/13/01", "00:00", 300), Clip("b", "2024/02/01", "23:59", 300)};
    RetentionPolicy policy;
    policy.freeSpaceRule = true;
    policy.limitBytes = 1000;
    policy.freeBytes = 500; // target 1100: 600 to free -> two clips
    RetentionPlan plan = planRetention(clips, policy, kNoneInUse);
    EXPECT_EQ(names(clips, plan.deleteClips), (std::vector<std::string>{"a1", "a2"}));
    EXPECT_EQ(plan.bytesFreed, 600u);
    EXPECT_TRUE(plan.dropEntries.empty());

    // A clip in use is passed over, the next one goes instead.
    plan = planRetention(clips, policy, [](const RetentionClip& c) { return c.fileName == "a1"; });
    EXPECT_EQ(names(clips, plan.deleteClips), (std::vector<std::string>{"a2", "b"}));

    // Clips on another volume free nothing here and stay.
    clips[3].onRecordVolume = false; // a1
    plan = planRetention(clips, policy, kNoneInUse);
    EXPECT_EQ(names(clips, plan.deleteClips), (std::vector<std::string>{"a2", "b"}));

    // At or above the limit, or with the rule off, nothing goes.
    policy.freeBytes = 1000;
    EXPECT_TRUE(planRetention(clips, policy, kNoneInUse).deleteClips.empty());
    policy.freeBytes = 0;
    policy.freeSpaceRule = false;
    EXPECT_TRUE(planRetention(clips, policy, kNoneInUse).deleteClips.empty());

    // Never more than there is: everything deletable goes, the bad date stays.
    policy.freeSpaceRule = true;
    policy.limitBytes = 1'000'000;
    clips[3].onRecordVolume = true;
    plan = planRetention(clips, policy, kNoneInUse);
    EXPECT_EQ(names(clips, plan.deleteClips), (std::vector<std::string>{"a1", "a2", "b", "c", "new"}));
}

TEST(RetentionPlanner, AgeLimitAndVanishedEntries) {
    std::vector<RetentionClip> clips = {
        Clip("old", "2024/01/01", "00:00", 10), Clip("edge", "2024/02/01", "12:00", 10),
        Clip("young", "2024/02/01", "12:01", 10), Clip("gone", "2020/01/01", "00:00", 10),
        Clip("unreadable", "2020/01/01", "00:00", 10)};
    clips[3].videoExists = false;
    clips[4].videoExists = false;
    clips[4].folderReadable = false;
    RetentionPolicy policy;
    policy.ageCutoffKey = 202402011201; // clips started before 2024/02/01 12:01
    const RetentionPlan plan = planRetention(clips, policy, kNoneInUse);
    EXPECT_EQ(names(clips, plan.deleteClips), (std::vector<std::string>{"old", "edge"}));
    // Only the entry whose folder can be read loses its entry.
    EXPECT_EQ(names(clips, plan.dropEntries), std::vector<std::string>{"gone"});

    EXPECT_EQ(planPatrolFolders({"20240101-000000", "20240201-120100", "20240201-120059", "notes",
                                 "2024010-1000000", "20240101_000000"},
                                202402011201),
              (std::vector<std::string>{"20240101-000000", "20240201-120059"}));
    EXPECT_TRUE(planPatrolFolders({"20240101-000000"}, 0).empty());
}

// A whole pass on a temporary record folder and clip index.
class RetentionPassTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(recordFolder); }

    // A clip with `bytes` of video and 10 of image in `folder`, indexed.
    void addClip(const std::string& name, const std::string& date, const std::string& time, size_t bytes,
                 const std::string& folder = {}, bool files = true) {
        const std::string where = folder.empty() ? recordFolder : folder;
        if (files) {
            std::ofstream(where + name + ".avi") << std::string(bytes, 'v');
            std::ofstream(where + name + ".img") << std::string(10, 'i');
        }
        ClipRecord record{name + ".avi", 0, 1, "", date, time, date, time, name + ".img", where};
        ASSERT_TRUE(index.SaveClipRecord(record));
    }
    std::vector<std::string> indexed() {
        std::vector<ClipRecord> records;
        index.LoadClipRecords(records);
        std::vector<std::string> names;
        for (const ClipRecord& r : records)
            names.push_back(r.FileName);
        std::sort(names.begin(), names.end());
        return names;
    }
    bool Exists(const std::string& file) const { return std::filesystem::exists(recordFolder + file); }
    RetentionRequest request() const {
        RetentionRequest r;
        r.storePath = store.filePath();
        r.recordFolder = recordFolder;
        r.limitBytes = 1000;
        r.now = 1717236000; // 2024-06-01, around noon in any time zone
        return r;
    }

    TempDir dir{"dialscope-retention"};
    std::string recordFolder = dir.file("rec/");
    RegistryStore store{dir.file("user.sqlite")};
    ChannelTable channels;
    ClipIndex index{store, channels};
    uint64_t freeBytes = 0;
    RetentionWorker worker{[this](const std::string&) {
        return std::optional<uint64_t>(freeBytes);
    }};
};

TEST_F(RetentionPassTest, FreesSpaceOldestFirstFilesBeforeEntriesSparingClipsInUse) {
    addClip("a", "2024/01/01", "00:00", 400);
    addClip("b", "2024/01/02", "00:00", 400);
    addClip("c", "2024/01/03", "00:00", 400);
    addClip("d", "2024/01/04", "00:00", 400);
    ClipsInUse::Token playing(recordFolder + "a.avi");
    freeBytes = 500; // 600 short of 1100: b and c (410 each)

    RetentionRequest request = this->request();
    request.freeSpaceRule = true;
    const RetentionResult result = worker.runPass(request);
    ASSERT_TRUE(result.fullPass);
    ASSERT_EQ(result.deleted.size(), 2u);
    EXPECT_EQ(result.deleted[0], std::make_pair(recordFolder + "b.avi", uint64_t(410)));
    EXPECT_EQ(result.deleted[1].first, recordFolder + "c.avi");
    EXPECT_TRUE(Exists("a.avi"));
    EXPECT_FALSE(Exists("b.avi"));
    EXPECT_FALSE(Exists("b.img"));
    EXPECT_TRUE(Exists("d.img"));
    EXPECT_EQ(indexed(), (std::vector<std::string>{"a.avi", "d.avi"}));

    // Above the limit nothing is even read.
    freeBytes = 5000;
    EXPECT_FALSE(worker.runPass(request).fullPass);
}

TEST_F(RetentionPassTest, HealsInterruptedPassesButNeverEmptiesAnUnreachableFolder) {
    addClip("kept", "2024/05/31", "00:00", 10);
    addClip("vanished", "2024/05/31", "00:01", 10, {}, false); // files gone, entry left
    const std::string unmounted = dir.file("unmounted/");      // the folder does not exist
    addClip("away1", "2020/01/01", "00:00", 10, unmounted, false);
    addClip("away2", "2020/01/01", "00:01", 10, unmounted, false);
    std::filesystem::create_directories(recordFolder + "patrol/20240101-000000/Gate");
    std::filesystem::create_directories(recordFolder + "patrol/20240531-000000");

    RetentionRequest request = this->request();
    request.maxAgeDays = 30;
    freeBytes = 0;
    const RetentionResult result = worker.runPass(request);
    ASSERT_TRUE(result.fullPass);
    EXPECT_TRUE(result.deleted.empty());
    EXPECT_EQ(result.entriesDropped, 1u);
    EXPECT_EQ(indexed(), (std::vector<std::string>{"away1.avi", "away2.avi", "kept.avi"}));
    EXPECT_EQ(result.patrolFoldersRemoved, 1u);
    EXPECT_FALSE(Exists("patrol/20240101-000000"));
    EXPECT_TRUE(Exists("patrol/20240531-000000"));

    // The age rule keeps its hourly pace unless forced.
    request.now += 60;
    EXPECT_FALSE(worker.runPass(request).fullPass);
    request.now += 3600;
    EXPECT_TRUE(worker.runPass(request).fullPass);
}

TEST_F(RetentionPassTest, AgeLimitOnTheWorkerThreadReportsOnTheCallersThread) {
    addClip("old", "2024/04/01", "00:00", 10);
    addClip("young", "2024/05/30", "00:00", 10);
    RetentionRequest request = this->request();
    request.maxAgeDays = 30;
    std::optional<RetentionResult> reported;
    ASSERT_TRUE(worker.Start(request, [&](const RetentionResult& r) { reported = r; }));
    QElapsedTimer waited;
    waited.start();
    while (!reported && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(reported.has_value());
    ASSERT_EQ(reported->deleted.size(), 1u);
    EXPECT_EQ(reported->deleted[0].first, recordFolder + "old.avi");
    EXPECT_EQ(indexed(), std::vector<std::string>{"young.avi"});
}

} // namespace
