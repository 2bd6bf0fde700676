#include "clips/core/ClipRecorder.h"
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipRecovery.h"
#include "clips/core/ClipWriterThread.h"
#include "platform/registry/RegistryStore.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::time_t localClock(int year, int month, int day, int hour, int minute, int second) {
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
std::vector<uint8_t> frameBuffer(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> buffer(230400, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    return buffer;
}

BitmapInfoHeader headerOf(const std::vector<uint8_t>& frame) {
    return *BitmapInfoHeader::parse(frame);
}

class ClipRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_channels.replace({{2, "Gate"}, {5, "Yard"}});
        m_folder = m_dir.path() + "/rec/";
        fs::create_directory(m_folder);
        m_now = localClock(2001, 7, 15, 14, 9, 33);
    }

    std::unique_ptr<ClipRecorder> recorder() {
        return std::make_unique<ClipRecorder>(
            m_index,
            ClipRecorder::Environment{[this] { return m_folder; }, [this] { return m_now; }, {}, {}, {}});
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
    const std::vector<uint8_t> buffer = frameBuffer(frames[0]);
    auto rec = recorder();
    ASSERT_TRUE(rec->recordCommand(2, headerOf(frames[0]), buffer));
    EXPECT_TRUE(rec->recording());
    EXPECT_FALSE(rec->recordCommand(2, headerOf(frames[0]), buffer)) << "Record is disabled while recording";
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
    ASSERT_TRUE(rec->recordCommand(2, headerOf(first), std::vector<uint8_t>(230400, 0)));
    const std::string image = m_folder + rec->imageFileName();
    EXPECT_EQ(fs::file_size(image), 0u) << "the name is held, empty until the first frame";
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
    ASSERT_TRUE(rec->StartRecording(5, headerOf(frame)));
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
    EXPECT_EQ(fs::file_size(image), 0u);

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
    ASSERT_TRUE(gate->StartRecording(2, headerOf(a)));
    ASSERT_TRUE(yard->StartRecording(12345, headerOf(b)));
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
    ASSERT_TRUE(rec->StartRecording(2, headerOf(frame)));
    rec->RecordFrame(frame);
    rec->RecordFrame(frame);
    const std::string video = m_folder + rec->videoFileName();
    rec.reset();
    ASSERT_EQ(records().size(), 1u);
    EXPECT_EQ(packets(video), "2");
}

TEST_F(ClipRecorderTest, AClipAcrossMidnightKeepsItsStartAndStopDays) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    m_now = localClock(2023, 12, 31, 23, 59, 50);
    auto rec = recorder();
    ASSERT_TRUE(rec->StartRecording(2, headerOf(frame)));
    rec->RecordFrame(frame);
    m_now = localClock(2024, 1, 1, 0, 0, 20);
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
    ASSERT_TRUE(rec->StartRecording(2, headerOf(frame)));
    m_folder = m_dir.path() + "/other"; // no trailing separator: one is added
    fs::create_directory(m_folder);
    rec->RecordFrame(frame);
    rec->StopRecording();
    EXPECT_TRUE(fs::exists(first + "200107151409330002.avi"));
    EXPECT_TRUE(fs::exists(first + "200107151409330002.img"));
    ASSERT_EQ(records().at(0).Path, first);

    m_now += 60;
    ASSERT_TRUE(rec->StartRecording(2, headerOf(frame)));
    EXPECT_EQ(rec->recordFolder(), m_folder + "/");
    rec->StopRecording();
    EXPECT_TRUE(fs::exists(m_folder + "/200107151410330002.avi"));
}

TEST_F(ClipRecorderTest, ASecondClipInTheSameSecondGetsItsOwnNames) {
    const auto a = cliptest::rawFrame(32, 16, 1);
    const auto b = cliptest::rawFrame(32, 16, 6);
    auto rec = recorder();
    for (const auto* frame : {&a, &b, &a}) {
        ASSERT_TRUE(rec->recordCommand(2, headerOf(*frame), frameBuffer(*frame)));
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
    EXPECT_FALSE(rec->recordCommand(2, headerOf(frame), frameBuffer(frame)));
    EXPECT_FALSE(rec->recording());
    rec->StopRecording();
    EXPECT_TRUE(records().empty());

    // A record folder too long for the clip index to give back whole.
    std::string longFolder = m_dir.path();
    while (longFolder.size() < 259)
        longFolder += "/" + std::string(std::min<size_t>(100, 259 - longFolder.size() - 1), 'd');
    ASSERT_EQ(longFolder.size(), 259u) << "with its closing slash, 260 bytes";
    fs::create_directories(longFolder);
    m_folder = longFolder;
    EXPECT_FALSE(rec->StartRecording(2, headerOf(frame)));
    EXPECT_FALSE(rec->recording());
    EXPECT_TRUE(fs::is_empty(longFolder));
    EXPECT_TRUE(records().empty());
}

TEST_F(ClipRecorderTest, TakenNamesMoveTheClipToTheNextSuffixAndAreLeftAlone) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    const std::string stem = m_folder + "200107151409330002";
    // A stray image file without its video file, and a link planted at the
    // next video name, pointing at a file outside the folder.
    const std::vector<uint8_t> stray{'o', 'l', 'd'};
    { std::ofstream(stem + ".img", std::ios::binary).write("old", 3); }
    const std::string outside = m_dir.path() + "/outside";
    { std::ofstream(outside) << "precious"; }
    ASSERT_EQ(::symlink(outside.c_str(), (stem + "_1.avi").c_str()), 0);

    const mode_t oldMask = ::umask(022);
    auto rec = recorder();
    ASSERT_TRUE(rec->StartRecording(2, headerOf(frame)));
    EXPECT_EQ(rec->videoFileName(), "200107151409330002_2.avi");
    EXPECT_TRUE(fs::exists(m_folder + rec->imageFileName())) << "the image name is held from the start";
    EXPECT_FALSE(fs::exists(stem + "_1.img")) << "the half-made pair is given up whole";
    rec->RecordFrame(frame);
    rec->StopRecording();
    ::umask(oldMask);

    EXPECT_EQ(cliptest::readFile(stem + ".img"), stray);
    EXPECT_FALSE(fs::exists(stem + ".avi"));
    EXPECT_EQ(cliptest::readFile(outside).size(), 8u);
    EXPECT_TRUE(fs::is_symlink(stem + "_1.avi"));
    EXPECT_EQ(cliptest::readFile(stem + "_2.img"), frame);
    for (const char* ext : {"_2.avi", "_2.img"}) {
        struct stat st {};
        ASSERT_EQ(::stat((stem + ext).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u) << ext << ": footage is group-readable, not world-readable";
    }
    const auto list = records();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].FileName, "200107151409330002_2.avi");

    // A clip that never got a frame leaves no empty image file behind.
    ASSERT_TRUE(rec->StartRecording(5, headerOf(frame)));
    const std::string image = m_folder + rec->imageFileName();
    rec->StopRecording();
    EXPECT_FALSE(fs::exists(image));
}

TEST_F(ClipRecorderTest, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
    const auto frame = cliptest::rawFrame(160, 120, 3); // 57,640 bytes
    auto rec = recorder();
    {
        // No room even for the headers: as a failed start, with no file left.
        cliptest::FileSizeLimit limit(1000);
        EXPECT_FALSE(rec->StartRecording(2, headerOf(frame)));
        EXPECT_FALSE(rec->recording());
    }
    EXPECT_TRUE(fs::is_empty(m_folder));
    EXPECT_TRUE(records().empty());

    // Full in the middle of the clip: the frames before stay, the file is
    // completed and listed, and Record is offered again.
    std::string video;
    {
        cliptest::FileSizeLimit limit(300000);
        ASSERT_TRUE(rec->StartRecording(2, headerOf(frame)));
        video = m_folder + rec->videoFileName();
        for (int i = 0; i < 10 && rec->recording(); ++i)
            rec->RecordFrame(frame);
        EXPECT_FALSE(rec->recording());
    }
    const int32_t written = rec->writtenFrames();
    EXPECT_GE(written, 3);
    EXPECT_LT(written, 10);
    EXPECT_EQ(packets(video), std::to_string(written));
    EXPECT_EQ(records().size(), 1u);
    EXPECT_TRUE(rec->recordCommand(2, headerOf(frame), frameBuffer(frame)));
}

// The writer thread stands still, as on a volume whose every write hangs:
// the recorder's calls still return at once, frames beyond the queue's room
// are dropped and counted, and once the volume answers again the clip is
// completed in order and listed.
TEST_F(ClipRecorderTest, AStalledVolumeNeverHoldsUpTheCaller) {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 30; ++i)
        frames.push_back(cliptest::rawFrame(64, 48, i));
    auto writer = std::make_shared<ClipWriterThread>(ClipWriterThread::Limits{8, size_t(1) << 20});
    std::atomic<bool> volumeAnswers{false};
    writer->post(
        [&] {
            while (!volumeAnswers)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        },
        0, true);
    ClipRecorder rec(m_index, {[this] { return m_folder; }, [this] { return m_now; }, {}, writer, {}});

    std::chrono::steady_clock::duration longest{};
    const auto timed = [&](auto&& call) {
        const auto started = std::chrono::steady_clock::now();
        call();
        longest = std::max(longest, std::chrono::steady_clock::now() - started);
    };
    timed([&] { EXPECT_TRUE(rec.StartRecording(2, headerOf(frames[0]))); });
    for (const auto& frame : frames)
        timed([&] {
            rec.RecordFrame(frame);
            rec.flushIfDue();
        });
    EXPECT_TRUE(rec.recording());
    timed([&] { rec.StopRecording(); });
    EXPECT_LT(longest, std::chrono::milliseconds(50));
    RecordProperty("LongestCallMicroseconds",
                   int(std::chrono::duration_cast<std::chrono::microseconds>(longest).count()));
    const int32_t handedOver = rec.writtenFrames();
    EXPECT_LT(handedOver, 30);
    EXPECT_GT(writer->dropped(), 0u);
    EXPECT_TRUE(records().empty()) << "nothing is listed before the files are complete";

    volumeAnswers = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (records().empty() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const auto list = records();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].FileName, "200107151409330002.avi");
    EXPECT_EQ(packets(m_folder + list[0].FileName), std::to_string(handedOver));
    EXPECT_EQ(cliptest::readFile(m_folder + list[0].ImageName), frames[0]) << "frames in the order given";
}

// The caller hands over the stored folder text only; what it stands for on
// disk (a fallback folder when it is unreachable) is found on the writer, so
// the record volume is never touched on the caller's thread.
TEST_F(ClipRecorderTest, TheFolderIsResolvedOnTheWriterAndTheClipIsListedThere) {
    const auto frame = cliptest::rawFrame(32, 16, 1);
    auto writer = std::make_shared<ClipWriterThread>();
    std::atomic<bool> resolvedOnCaller{false};
    const auto caller = std::this_thread::get_id();
    const auto resolve = [&](const std::string& stored) {
        resolvedOnCaller = resolvedOnCaller || std::this_thread::get_id() == caller;
        return stored == "unreachable/" ? m_folder.substr(0, m_folder.size() - 1) : stored;
    };
    ClipRecorder rec(
        m_index, {[] { return std::string("unreachable"); }, [this] { return m_now; }, {}, writer, resolve});
    ASSERT_TRUE(rec.StartRecording(2, headerOf(frame)));
    rec.RecordFrame(frame);
    rec.StopRecording();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (records().empty() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(resolvedOnCaller);
    const auto list = records();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Path, m_folder) << "the resolved folder, with its trailing separator";
    EXPECT_EQ(packets(m_folder + list[0].FileName), "1");
    EXPECT_FALSE(fs::exists("unreachable"));
}

// Clip files a crash left without entries: every one of ours is listed
// again from its name and the frames that reached the disk; anything else in
// the folder, and clips already listed, are left alone.
TEST_F(ClipRecorderTest, ClipsACrashLeftUnlistedAreIndexedAtStartUp) {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 200; ++i)
        frames.push_back(cliptest::rawFrame(32, 16, i));
    const std::string whole = m_folder + "200107151409330002.avi";
    ASSERT_TRUE(cliptest::writeClip(whole, frames));
    // Killed while writing frame 4: the header counts fewer, the tail is torn.
    const auto bytes = cliptest::readFile(whole);
    const size_t chunk = 8 + frames[0].size() - 40;
    const size_t firstSample = bytes.size() - 8 - 16 * 200 - 200 * chunk;
    {
        std::ofstream out(m_folder + "2001071514093312345_1.avi", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(firstSample + 3 * chunk + 20));
    }
    // Not ours, or already listed.
    for (const char* name : {"holiday.avi", "200107151409330002.avi.part", "20010715140933ab02.avi",
                             "20010715140933000.avi", "200113151409330002.avi"})
        fs::copy_file(whole, m_folder + name);
    { std::ofstream(m_folder + "200107151409330005.avi") << "RIFF garbage"; }
    {
        auto rec = recorder();
        m_now = localClock(2001, 7, 15, 15, 0, 0);
        ASSERT_TRUE(rec->StartRecording(5, headerOf(frames[0])));
        rec->RecordFrame(frames[0]);
    }
    ASSERT_EQ(records().size(), 1u);
    // Many crashed clips at once, as a folder of a long-failing machine holds.
    constexpr int kCopies = 40;
    for (int i = 0; i < kCopies; ++i)
        fs::copy_file(whole, m_folder + "200107151409330003_" + std::to_string(i + 1) + ".avi");

    const auto started = std::chrono::steady_clock::now();
    ClipRecoveryTask task(m_index, m_folder);
    while (!task.done() && std::chrono::steady_clock::now() - started < std::chrono::seconds(20))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const auto took = std::chrono::steady_clock::now() - started;
    RecordProperty("RecoveryMilliseconds",
                   int(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    ASSERT_TRUE(task.done());
    EXPECT_EQ(task.saved(), 2 + kCopies);

    const auto list = records();
    ASSERT_EQ(list.size(), 3u + kCopies);
    const ClipRecord& full = list[0];
    EXPECT_EQ(full.FileName, "200107151409330002.avi");
    EXPECT_EQ(full.Channel, 2);
    EXPECT_EQ(full.Location, "Gate");
    EXPECT_EQ(full.Open, 0);
    EXPECT_EQ(full.SDate + " " + full.STime, "2001/07/15 14:09");
    EXPECT_EQ(full.EDate + " " + full.ETime, "2001/07/15 14:11") << "200 frames at two a second";
    EXPECT_EQ(full.ImageName, "200107151409330002.img");
    EXPECT_EQ(full.Path, m_folder);
    const ClipRecord& torn = list[list.size() - 2];
    EXPECT_EQ(torn.FileName, "2001071514093312345_1.avi");
    EXPECT_EQ(torn.Channel, 12345);
    EXPECT_EQ(countAviFrames(m_folder + torn.FileName), 3) << "the torn frame is not counted";
    EXPECT_EQ(list.back().FileName, "200107151500000005.avi") << "listed before: kept as it was";
    EXPECT_EQ(list.back().STime, "15:00");
}

// The task reads the index on its worker: gone before it ended, it saved
// nothing and left the index to the next run, which finds the clip.
TEST_F(ClipRecorderTest, ARecoveryGoneBeforeItEndedSavesNothing) {
    std::vector<std::vector<uint8_t>> frames(3, cliptest::rawFrame(32, 16, 1));
    ASSERT_TRUE(cliptest::writeClip(m_folder + "200107151409330002.avi", frames));
    for (int i = 0; i < 20; ++i)
        std::make_unique<ClipRecoveryTask>(m_index, m_folder).reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(records().empty());

    ClipRecoveryTask task(m_index, m_folder);
    const auto started = std::chrono::steady_clock::now();
    while (!task.done() && std::chrono::steady_clock::now() - started < std::chrono::seconds(20))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(task.done());
    ASSERT_EQ(records().size(), 1u);
    EXPECT_EQ(records()[0].FileName, "200107151409330002.avi");
}

} // namespace
