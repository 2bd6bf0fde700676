#include "platform/export/ExportCommandLine.h"
#include "clips/core/ClipExportPlan.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <filesystem>
#include <fstream>

using namespace cliptest;

namespace {

int64_t localMs(int year, int month, int day, int hour, int minute, int second = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second)).toMSecsSinceEpoch();
}

std::optional<ExportCommand> parse(const QStringList& arguments, std::string* errorOut = nullptr) {
    std::string error;
    auto command = parseExportCommand(arguments, error);
    if (errorOut)
        *errorOut = error;
    return command;
}

} // namespace

TEST(ExportCommandLine, ReadsClipsOutputFormatRangeAndOptions) {
    EXPECT_FALSE(isExportCommand({"-Embedding"}));
    EXPECT_TRUE(isExportCommand({"--export", "a.avi"}));

    auto command =
        parse({"--export", "/r/202701150800000003.avi", "/r/202701150810000003_1.avi", "plain.avi", "--to",
               "out.MKV", "--from", "2027-01-15 08:01", "--until", "2027-01-15T08:05:30", "--no-caption"});
    ASSERT_TRUE(command);
    const ExportRequest& r = command->request;
    ASSERT_EQ(r.clips.size(), 2u);
    EXPECT_EQ(r.clips[0].startMs, localMs(2027, 1, 15, 8, 0));
    EXPECT_EQ(r.clips[1].startMs, localMs(2027, 1, 15, 8, 10));
    EXPECT_EQ(command->undated, std::vector<std::string>{"plain.avi"});
    EXPECT_EQ(r.outputPath, "out.MKV");
    EXPECT_EQ(r.format, ExportFormat::MkvCopy);
    EXPECT_EQ(r.fromMs, localMs(2027, 1, 15, 8, 1));
    EXPECT_EQ(r.untilMs, localMs(2027, 1, 15, 8, 5, 30));
    EXPECT_FALSE(r.caption);
    EXPECT_EQ(r.title, "0003"); // the channel in the first clip's name

    command = parse({"--to", "x.mp4", "--export", "202701150800000003.avi", "--title", "0003 Yard"});
    ASSERT_TRUE(command);
    EXPECT_EQ(command->request.format, ExportFormat::Mp4H264);
    EXPECT_TRUE(command->request.caption);
    EXPECT_EQ(command->request.title, "0003 Yard");
    EXPECT_EQ(parseExportTime("20270115080102"), localMs(2027, 1, 15, 8, 1, 2));
}

TEST(ExportCommandLine, RefusesUnusableCommandsWithAReason) {
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {{"--export", "--to", "x.mp4"}, "at least one clip"},
        {{"--export", "a.avi"}, "--to"},
        {{"--export", "a.avi", "--to"}, "--to needs a value"},
        {{"--export", "a.avi", "--to", "x.avi"}, ".mp4 or .mkv"},
        {{"--export", "a.avi", "--to", "x.mp4", "--from", "yesterday"}, "cannot read the time"},
        {{"--export", "a.avi", "--to", "x.mp4", "--from", "2027-01-15 08:00", "--until", "2027-01-15 08:00"},
         "later than"},
        {{"--export", "a.avi", "--to", "x.mp4", "--loud"}, "unknown argument"},
    };
    for (const auto& [arguments, reason] : cases) {
        std::string error;
        EXPECT_FALSE(parse(arguments, &error)) << arguments.join(' ').toStdString();
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(ExportCommandLine, TheProgramExportsWithoutAWindowAndSaysWhyItCannot) {
    TempDir dir;
    const std::string first = dir.file("202701150800000003.avi");
    const std::string second = dir.file("202701150800100003.avi");
    const std::string damaged = dir.file("202701150800050003.avi");
    ASSERT_TRUE(writeClip(first, {rawFrame(32, 24, 0), rawFrame(32, 24, 1)}));
    ASSERT_TRUE(writeClip(second, {rawFrame(32, 24, 2), rawFrame(32, 24, 3)}));
    std::ofstream(damaged) << "damaged";
    const std::string program = DIALSCOPE_PROGRAM;

    // Without a display: the export needs none.
    const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY ";
    int status = -1;
    const std::string out = dir.file("out.mp4");
    std::string said =
        run(env + program + " --export " + first + " " + damaged + " " + second + " --to " + out + " 2>&1",
            &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("202701150800050003.avi: skipped"), std::string::npos) << said;
    const ReadBack file = readBack(out);
    EXPECT_EQ(file.codec, "h264");
    EXPECT_EQ(file.timesMs, (std::vector<int64_t>{0, 500, 10'000, 10'500}));

    // A range without footage: exit 1, a reason, no file.
    const std::string none = dir.file("none.mkv");
    said = run(env + program + " --export " + first + " --to " + none +
                   " --from '2027-01-15 09:00' --until '2027-01-15 10:00' 2>&1",
               &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(said.find("no footage"), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(none));

    // A usage error.
    said = run(env + program + " --export " + first + " 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(said.find("usage: dialscope --export"), std::string::npos) << said;
}

TEST(ClipExportPlan, TakesStartsFromNamesAndRangesByOverlap) {
    auto record = [](const std::string& name, const char* sdate, const char* stime, const char* edate,
                     const char* etime) {
        ClipRecord r;
        r.FileName = name;
        r.Path = "/rec/";
        r.SDate = sdate;
        r.STime = stime;
        r.EDate = edate;
        r.ETime = etime;
        return r;
    };
    ClipGroup group;
    group.label = "0003 Yard";
    group.records = {
        record("200107151409330003.avi", "2001/07/15", "14:09", "2001/07/15", "14:20"),
        record("renamed.avi", "2001/07/15", "15:00", "2001/07/15", "15:10"),
        record("200107151600000003.avi", "2001/07/15", "16:00", "2001/07/15", "16:05"),
        record("broken.avi", "2001/7/15", "9:00", "", ""),
    };
    EXPECT_EQ(clipStartMs(group.records[0]), localMs(2001, 7, 15, 14, 9, 33));
    EXPECT_EQ(clipStartMs(group.records[1]), localMs(2001, 7, 15, 15, 0));
    EXPECT_EQ(clipStartMs(group.records[3]), std::nullopt);

    // 14:20 to 15:00: the first clip may still run in its end minute; the
    // second starts exactly at the end and is left out.
    ExportPlan plan =
        exportPlanForRange(group, localMs(2001, 7, 15, 14, 20, 30), localMs(2001, 7, 15, 15, 0));
    ASSERT_EQ(plan.clips.size(), 1u);
    EXPECT_EQ(plan.clips[0].path, "/rec/200107151409330003.avi");
    EXPECT_EQ(plan.title, "0003 Yard");
    EXPECT_EQ(plan.fromMs, localMs(2001, 7, 15, 14, 20, 30));

    plan = exportPlanForRange(group, localMs(2001, 7, 15, 14, 21), localMs(2001, 7, 15, 17, 0));
    ASSERT_EQ(plan.clips.size(), 2u);
    EXPECT_EQ(plan.clips[0].path, "/rec/renamed.avi");

    plan = exportPlanForClips({&group.records[3], &group.records[2]}, "0003 Yard");
    ASSERT_EQ(plan.clips.size(), 1u); // a record without any start is left out
    EXPECT_EQ(plan.clips[0].startMs, localMs(2001, 7, 15, 16, 0));
}
