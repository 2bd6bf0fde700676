#include "ClipRecorder.h"
#include "ChannelTable.h"
#include "ClipIndex.h"
#include "ClipTestTools.h"
#include "RegistryStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::time_t LocalClock(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// A channel window's frame buffer: 230,400 bytes holding `frame` at its start.
std::vector<uint8_t> FrameBuffer(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> buffer(230400, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    return buffer;
}

BitmapInfoHeader HeaderOf(const std::vector<uint8_t>& frame) {
    return *BitmapInfoHeader::parse(frame);
}

class ClipRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_channels.Replace({{2, "Gate"}, {5, "Yard"}});
        m_folder = m_dir.path() + "/rec/";
        fs::create_directory(m_folder);
        m_now = LocalClock(2001, 7, 15, 14, 9, 33);
    }

    std::unique_ptr<ClipRecorder> recorder() {
        return std::make_unique<ClipRecorder>(
            m_index, ClipRecorder::Environment{[this] { return m_folder; }, [this] { return m_now; }, {}});
    }
    std::vector<ClipRecord> records() {
        std::vector<ClipRecord> list;
        m_index.LoadClipRecords(list);
        std::sort(list.begin(), list.end(),
                  [](const ClipRecord& a, const ClipRecord& b) { return a.FileName < b.FileName; });
        return list;
    }
    std::string packets(const std::string& path) { return cliptest::probe(path)["nb_read_packets"]; }

    TempDir m_dir;
    RegistryStore m_store{m_dir.file("user.sqlite")};
    ChannelTable m_channels;
    ClipIndex m_index{m_store, m_channels};
    std::string m_folder;
    std::time_t m_now = 0;
};

TEST_F(ClipRecorderTest, RecordThenStopKeepsThePictureShownAsOneSampleAndTheImageFile) {
    const auto frames = cliptest::jpegFrames(m_dir.path(), 1, 64, 48);
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<uint8_t> buffer = FrameBuffer(frames[0]);
    auto rec = recorder();
    ASSERT_TRUE(rec->RecordCommand(2, HeaderOf(frames[0]), buffer));
    EXPECT_TRUE(rec->recording());
    EXPECT_FALSE(rec->RecordCommand(2, HeaderOf(frames[0]), buffer)) << "Record is disabled while recording";
    m_now += 75;
    rec->StopRecording();
    EXPECT_FALSE(rec->recording());
    EXPECT_EQ(rec->writtenFrames(), 1);

    const auto list = records();
    ASSERT_EQ(list.size(), 1u);
    const ClipRecord& r = list[0];
    EXPECT_EQ(r.FileName, "200107151409330002.avi");
    EXPECT_EQ(r.ImageName, "200107151409330002.img");
    EXPECT_EQ(r.Open, 0);
    EXPECT_EQ(r.Channel, 2);
    EXPECT_EQ(r.Location, "Gate");
    EXPECT_EQ(r.SDate + " " + r.STime + " " + r.EDate + " " + r.ETime, "2001/07/15 14:09 2001/07/15 14:10");
    EXPECT_EQ(r.Path, m_folder);

    // The image file is the frame byte for byte, not the whole buffer.
    EXPECT_EQ(cliptest::readFile(m_folder + r.ImageName), frames[0]);
    auto probed = cliptest::probe(m_folder + r.FileName);
    EXPECT_EQ(probed["nb_read_packets"], "1");
    EXPECT_EQ(probed["r_frame_rate"], "2/1");
    EXPECT_EQ(probed["codec_name"], "mjpeg");
    EXPECT_EQ(probed["width"] + "x" + probed["height"], "64x48");
}

TEST_F(ClipRecorderTest, ABufferWithoutAFrameStartsTheClipWithTheNextFrame) {
    const auto first = cliptest::rawFrame(32, 16, 1);
    const auto next = cliptest::rawFrame(32, 16, 2);
    auto rec = recorder();
    ASSERT_TRUE(rec->RecordCommand(2, HeaderOf(first), std::vector<uint8_t>(230400, 0)));
    const std::string image = m_folder + rec->imageFileName();
    EXPECT_FALSE(fs::exists(image));
    rec->RecordFrame({});
    rec->RecordFrame(next);
    rec->RecordFrame(first);
    EXPECT_EQ(cliptest::readFile(image), next);
    const std::string video = m_folder + rec->videoFileName();
    rec->StopRecording();
    EXPECT_EQ(packets(video), "2");
}

TEST_F(ClipRecorderTest, FramesDeclaringMoreBytesThanTheyHoldAreNotRecorded) {
    auto frame = cliptest::rawFrame(32, 16, 3);
    auto rec = recorder();
    ASSERT_TRUE(rec->StartRecording(5, HeaderOf(frame)));
    const std::string image = m_folder + rec->imageFileName();
    const std::string video = m_folder + rec->videoFileName();

    auto longer = frame;
    longer[20] += 1; // biSizeImage one byte beyond the frame
    rec->RecordFrame(longer);
    auto colours = frame;
    colours[32] = 0xff; // 255 colour-table entries that are not there
    rec->RecordFrame(colours);
    auto notAFrame = frame;
    notAFrame[0] = 41;
    rec->RecordFrame(notAFrame);
    rec->RecordFrame(std::span(frame).first(39));
    EXPECT_EQ(rec->writtenFrames(), 0);
    EXPECT_FALSE(fs::exists(image));

    // A frame followed by unrelated bytes is recorded up to its own size only.
    auto padded = frame;
    padded.resize(frame.size() + 100, 0xEE);
    rec->RecordFrame(padded);
    EXPECT_EQ(cliptest::readFile(image), frame);
    rec->StopRecording();
    EXPECT_EQ(packets(video), "1");
}

TEST_F(ClipRecorderTest, ChannelsRecordAtOnceIntoIndependentFiles) {
    const auto a = cliptest::rawFrame(32, 16, 1);
    const auto b = cliptest::rawFrame(48, 32, 4);
    auto gate = recorder();
    auto yard = recorder();
    ASSERT_TRUE(gate->StartRecording(2, HeaderOf(a)));
    ASSERT_TRUE(yard->StartRecording(12345, HeaderOf(b)));
    EXPECT_EQ(yard->videoFileName(), "2001071514093312345.avi");
    for (int i = 0; i < 5; ++i) {
        yard->RecordFrame(b);
        if (i < 3)
            gate->RecordFrame(a);
    }
    const std::string gateVideo = m_folder + gate->videoFileName();
    const std::string yardVideo = m_folder + yard->videoFileName();
    gate->StopRecording();
    yard->StopRecording();

    EXPECT_EQ(packets(gateVideo), "3");
    EXPECT_EQ(packets(yardVideo), "5");
    EXPECT_EQ(cliptest::readFile(m_folder + "200107151409330002.img"), a);
    EXPECT_EQ(cliptest::readFile(m_folder + "2001071514093312345.img"), b);
    const auto list = records();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Location, "Gate");
    EXPECT_EQ(list[1].Location, "") << "channel 12345 is not in the channel table";
}

TEST_F(ClipRecorderTest, DestroyingARecordingRecorderWritesItsRecordAndCompletesTheFile) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    auto rec = recorder();
    ASSERT_TRUE(rec->StartRecording(2, HeaderOf(frame)));
    rec->RecordFrame(frame);
    rec->RecordFrame(frame);
    const std::string video = m_folder + rec->videoFileName();
    rec.reset();
    ASSERT_EQ(records().size(), 1u);
    EXPECT_EQ(packets(video), "2");
}

TEST_F(ClipRecorderTest, AClipAcrossMidnightKeepsItsStartAndStopDays) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    m_now = LocalClock(2023, 12, 31, 23, 59, 50);
    auto rec = recorder();
    ASSERT_TRUE(rec->StartRecording(2, HeaderOf(frame)));
    rec->RecordFrame(frame);
    m_now = LocalClock(2024, 1, 1, 0, 0, 20);
    rec->StopRecording();
    const auto list = records();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].FileName, "202312312359500002.avi");
    EXPECT_EQ(list[0].SDate + " " + list[0].STime, "2023/12/31 23:59");
    EXPECT_EQ(list[0].EDate + " " + list[0].ETime, "2024/01/01 00:00");
}

TEST_F(ClipRecorderTest, AClipKeepsTheFolderItStartedInAndANewFolderServesTheNextClip) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    const std::string first = m_folder;
    auto rec = recorder();
    ASSERT_TRUE(rec->StartRecording(2, HeaderOf(frame)));
    m_folder = m_dir.path() + "/other"; // no trailing separator: one is added
    fs::create_directory(m_folder);
    rec->RecordFrame(frame);
    rec->StopRecording();
    EXPECT_TRUE(fs::exists(first + "200107151409330002.avi"));
    EXPECT_TRUE(fs::exists(first + "200107151409330002.img"));
    ASSERT_EQ(records().at(0).Path, first);

    m_now += 60;
    ASSERT_TRUE(rec->StartRecording(2, HeaderOf(frame)));
    EXPECT_EQ(rec->recordFolder(), m_folder + "/");
    rec->StopRecording();
    EXPECT_TRUE(fs::exists(m_folder + "/200107151410330002.avi"));
}

TEST_F(ClipRecorderTest, ASecondClipInTheSameSecondGetsItsOwnNames) {
    const auto a = cliptest::rawFrame(32, 16, 1);
    const auto b = cliptest::rawFrame(32, 16, 6);
    auto rec = recorder();
    for (const auto* frame : {&a, &b, &a}) {
        ASSERT_TRUE(rec->RecordCommand(2, HeaderOf(*frame), FrameBuffer(*frame)));
        rec->StopRecording();
    }
    const auto list = records();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].FileName, "200107151409330002.avi");
    EXPECT_EQ(list[1].FileName, "200107151409330002_1.avi");
    EXPECT_EQ(list[1].ImageName, "200107151409330002_1.img");
    EXPECT_EQ(list[2].FileName, "200107151409330002_2.avi");
    EXPECT_EQ(cliptest::readFile(m_folder + list[0].ImageName), a);
    EXPECT_EQ(cliptest::readFile(m_folder + list[1].ImageName), b);
    // Newest first when sorted by name, as the browser lists them.
    EXPECT_GT(list[1].FileName, list[0].FileName);
}

TEST_F(ClipRecorderTest, FailuresLeaveNothingClaimedAsRecorded) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    auto rec = recorder();

    // No record folder: Record has no effect and Stop writes nothing.
    m_folder = m_dir.path() + "/missing/";
    EXPECT_FALSE(rec->RecordCommand(2, HeaderOf(frame), FrameBuffer(frame)));
    EXPECT_FALSE(rec->recording());
    rec->StopRecording();
    EXPECT_TRUE(records().empty());

    // An image file that cannot be created: the clip goes on without one.
    m_folder = m_dir.path() + "/rec/";
    ASSERT_TRUE(rec->StartRecording(2, HeaderOf(frame)));
    fs::create_directory(m_folder + rec->imageFileName()); // occupies the name
    rec->RecordFrame(frame);
    rec->RecordFrame(frame);
    const std::string video = m_folder + rec->videoFileName();
    rec->StopRecording();
    EXPECT_TRUE(fs::is_directory(m_folder + "200107151409330002.img"));
    EXPECT_EQ(packets(video), "2");
    EXPECT_EQ(records().size(), 1u);
}

} // namespace
