#include "platform/export/ClipExporter.h"
#include "platform/export/ExportJob.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace cliptest;

namespace {

// 2027-01-15 08:00:00 UTC: clip starts are counted from here.
constexpr int64_t kBase = 1'800'000'000'000;

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// Offset of the first top-level MP4 box of this type, or npos.
size_t boxOffset(const std::vector<uint8_t>& file, const char* type) {
    size_t at = 0;
    while (at + 8 <= file.size()) {
        const uint32_t size = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 |
                              uint32_t(file[at + 2]) << 8 | uint32_t(file[at + 3]);
        if (std::equal(type, type + 4, file.begin() + long(at) + 4))
            return at;
        if (size < 8)
            return std::string::npos;
        at += size;
    }
    return std::string::npos;
}

Rgb rgbAt(const std::vector<uint8_t>& rgb, int width, int x, int y) {
    const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

class ClipExport : public ::testing::Test {
protected:
    // A clip recorded the way the recorder writes it: raw frames in
    // frameColour(firstColour + i), starting at `startMs`.
    ExportClip clip(const std::string& name, int64_t startMs, int count, int firstColour = 0, int width = 33,
                    int height = 20) {
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < count; ++i)
            frames.push_back(rawFrame(width, height, firstColour + i));
        const std::string path = m_dir.file(name);
        EXPECT_TRUE(writeClip(path, frames));
        return {path, startMs};
    }

    ExportRequest request(std::vector<ExportClip> clips, ExportFormat format, const std::string& out) {
        ExportRequest r;
        r.clips = std::move(clips);
        r.outputPath = m_dir.file(out);
        r.format = format;
        r.title = "0003 Gate";
        r.caption = false;
        return r;
    }

    ExportResult run(const ExportRequest& r) {
        const std::atomic<bool> abort{false};
        return ClipExporter(r).run(abort);
    }

    // ffprobe reads the whole file without a complaint.
    void expectProbesClean(const std::string& path) {
        int status = 0;
        const std::string complaints =
            run("ffprobe -v error -show_format -show_streams -count_frames '" + path + "' 2>&1 >/dev/null",
                &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(complaints, "");
    }

    std::string run(const std::string& command, int* status) { return cliptest::run(command, status); }

    TempDir m_dir;
};

} // namespace

TEST_F(ClipExport, MkvCopyJoinsClipsInTimeOrderKeepsTheGapAndEveryFrameByte) {
    const ExportClip first = clip("first.avi", kBase, 6, 0);
    const ExportClip second = clip("second.avi", kBase + 10'000, 4, 6);
    const ExportRequest r = request({second, first}, ExportFormat::MkvCopy, "out.mkv");

    const ExportResult result = run(r);
    ASSERT_EQ(result.status, ExportResult::Status::Done) << result.reason;
    EXPECT_EQ(result.framesWritten, 10);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_FALSE(exists(r.outputPath + ".partial"));

    const ReadBack out = readBack(r.outputPath);
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(out.streams, 1);
    EXPECT_EQ(out.width, 33);
    EXPECT_EQ(out.height, 20);
    EXPECT_EQ(out.timesMs,
              (std::vector<int64_t>{0, 500, 1000, 1500, 2000, 2500, 10'000, 10'500, 11'000, 11'500}));
    std::vector<std::vector<uint8_t>> recorded = readBack(first.path).packets;
    for (auto& packet : readBack(second.path).packets)
        recorded.push_back(packet);
    ASSERT_EQ(recorded.size(), 10u);
    EXPECT_TRUE(out.packets == recorded) << "the copy changed frame bytes";

    EXPECT_EQ(out.tags.at("title"), "0003 Gate");
    EXPECT_NE(out.tags.at("comment").find("first.avi, second.avi"), std::string::npos);
    EXPECT_NE(out.tags.at("comment").find("Dialscope "), std::string::npos);
    EXPECT_EQ(out.tags.at("creation_time").substr(0, 19), "2027-01-15T08:00:00");
    expectProbesClean(r.outputPath);
}

TEST_F(ClipExport, Mp4IsBrowserReadyH264WithTheClipTimesAndMetadata) {
    const ExportClip first = clip("first.avi", kBase, 6, 0);
    const ExportClip second = clip("second.avi", kBase + 10'000, 4, 6);
    const ExportRequest r = request({first, second}, ExportFormat::Mp4H264, "out.mp4");

    const ExportResult result = run(r);
    ASSERT_EQ(result.status, ExportResult::Status::Done) << result.reason;

    const ReadBack out = readBack(r.outputPath);
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(out.streams, 1);
    EXPECT_EQ(out.codec, "h264");
    EXPECT_EQ(out.pixelFormat, "yuv420p");
    EXPECT_EQ(out.width, 32); // 4:2:0 needs even sizes
    EXPECT_EQ(out.height, 20);
    EXPECT_EQ(out.timesMs,
              (std::vector<int64_t>{0, 500, 1000, 1500, 2000, 2500, 10'000, 10'500, 11'000, 11'500}));
    EXPECT_EQ(out.tags.at("title"), "0003 Gate");
    EXPECT_NE(out.tags.at("comment").find("first.avi, second.avi"), std::string::npos);
    EXPECT_EQ(out.tags.at("creation_time").substr(0, 19), "2027-01-15T08:00:00");

    // +faststart: the index comes before the pictures.
    const std::vector<uint8_t> bytes = readFile(r.outputPath);
    ASSERT_NE(boxOffset(bytes, "moov"), std::string::npos);
    EXPECT_LT(boxOffset(bytes, "moov"), boxOffset(bytes, "mdat"));

    const std::vector<uint8_t> picture = firstPictureRgb(r.outputPath, 32, 20);
    ASSERT_EQ(picture.size(), 32u * 20u * 3u);
    EXPECT_TRUE(near(rgbAt(picture, 32, 16, 2), frameColour(0), 24));
    expectProbesClean(r.outputPath);
}

TEST_F(ClipExport, CaptionIsBurnedIntoTheBottomLeftOnly) {
    const ExportClip source = clip("clip.avi", kBase, 2, 7, 160, 120); // white above, black below
    ExportRequest plain = request({source}, ExportFormat::Mp4H264, "plain.mp4");
    ExportRequest captioned = request({source}, ExportFormat::Mp4H264, "captioned.mp4");
    captioned.caption = true;
    ASSERT_EQ(run(plain).status, ExportResult::Status::Done);
    const ExportResult result = run(captioned);
    ASSERT_EQ(result.status, ExportResult::Status::Done) << result.reason;
    EXPECT_TRUE(result.warnings.empty());

    const auto a = firstPictureRgb(plain.outputPath, 160, 120);
    const auto b = firstPictureRgb(captioned.outputPath, 160, 120);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    int changedTop = 0;
    int changedCaption = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            const bool differs = !near(rgbAt(a, 160, x, y), rgbAt(b, 160, x, y), 40);
            if (y < 60)
                changedTop += differs;
            else if (y >= 108 && x < 80)
                changedCaption += differs;
        }
    EXPECT_EQ(changedTop, 0);
    EXPECT_GT(changedCaption, 20); // white text on the black lower half

    EXPECT_EQ(ClipExporter::captionText("0003 Gate", kBase).substr(0, 11), "0003 Gate  ");
}

TEST_F(ClipExport, DamagedMissingAndMismatchedClipsAreSkippedWithAWarning) {
    const ExportClip first = clip("first.avi", kBase, 4, 0);
    const ExportClip last = clip("last.avi", kBase + 20'000, 3, 4);
    const ExportClip other = clip("other-size.avi", kBase + 30'000, 3, 4, 64, 48);
    const ExportClip garbage{m_dir.file("garbage.avi"), kBase + 5'000};
    std::ofstream(garbage.path) << "RIFF this is no clip at all";
    const ExportClip missing{m_dir.file("missing.avi"), kBase + 6'000};

    // A clip cut off in the middle keeps the frames before the cut.
    const ExportClip truncated = clip("truncated.avi", kBase + 10'000, 8, 0);
    std::filesystem::resize_file(truncated.path, std::filesystem::file_size(truncated.path) / 2);

    for (const ExportFormat format : {ExportFormat::MkvCopy, ExportFormat::Mp4H264}) {
        SCOPED_TRACE(format == ExportFormat::MkvCopy ? "mkv" : "mp4");
        const ExportRequest r = request({first, garbage, missing, truncated, last, other}, format,
                                        format == ExportFormat::MkvCopy ? "out.mkv" : "out.mp4");
        const ExportResult result = run(r);
        ASSERT_EQ(result.status, ExportResult::Status::Done) << result.reason;
        const ReadBack out = readBack(r.outputPath);
        const int64_t kept = int64_t(out.packets.size());
        // The copy cannot take a clip of another size; the transcode scales it.
        const int64_t others = format == ExportFormat::MkvCopy ? 0 : 3;
        EXPECT_GT(kept, 4 + 3 + others);
        EXPECT_LT(kept, 4 + 8 + 3 + others);
        EXPECT_EQ(result.framesWritten, kept);
        auto warned = [&](const std::string& name) {
            return std::any_of(result.warnings.begin(), result.warnings.end(),
                               [&](const std::string& w) { return w.rfind(name, 0) == 0; });
        };
        EXPECT_TRUE(warned("garbage.avi"));
        EXPECT_TRUE(warned("missing.avi"));
        EXPECT_EQ(warned("other-size.avi"), format == ExportFormat::MkvCopy);
        EXPECT_FALSE(warned("first.avi"));
        expectProbesClean(r.outputPath);
    }
}

TEST_F(ClipExport, NothingUsableWritesNothing) {
    const ExportClip garbage{m_dir.file("garbage.avi"), kBase};
    std::ofstream(garbage.path) << "not a clip";
    const ExportRequest r = request({garbage}, ExportFormat::Mp4H264, "out.mp4");
    const ExportResult result = run(r);
    EXPECT_EQ(result.status, ExportResult::Status::NothingToExport);
    EXPECT_FALSE(exists(r.outputPath));
    EXPECT_FALSE(exists(r.outputPath + ".partial"));
}

TEST_F(ClipExport, CancelLeavesNoFileBehind) {
    const ExportClip source = clip("long.avi", kBase, 40, 0);
    for (const ExportFormat format : {ExportFormat::MkvCopy, ExportFormat::Mp4H264}) {
        const ExportRequest r =
            request({source}, format, format == ExportFormat::MkvCopy ? "out.mkv" : "out.mp4");
        std::atomic<bool> abort{false};
        int64_t lastDone = 0;
        const ExportResult result = ClipExporter(r).run(abort, [&](int64_t done, int64_t total) {
            EXPECT_EQ(total, 40);
            lastDone = done;
            if (done == 5)
                abort = true;
        });
        EXPECT_EQ(result.status, ExportResult::Status::Cancelled);
        EXPECT_EQ(lastDone, 5);
        EXPECT_FALSE(exists(r.outputPath));
        EXPECT_FALSE(exists(r.outputPath + ".partial"));
    }
}

TEST_F(ClipExport, RangeCutsAtBothEndsToTheFrame) {
    const ExportClip first = clip("first.avi", kBase, 6, 0);            // frames at 0 .. 2.5 s
    const ExportClip second = clip("second.avi", kBase + 10'000, 4, 6); // 10 .. 11.5 s
    const auto firstPackets = readBack(first.path).packets;

    for (const ExportFormat format : {ExportFormat::MkvCopy, ExportFormat::Mp4H264}) {
        SCOPED_TRACE(format == ExportFormat::MkvCopy ? "mkv" : "mp4");
        const std::string name = format == ExportFormat::MkvCopy ? "cut.mkv" : "cut.mp4";

        // Within one clip: the frame showing at the start (1.0 s shows until
        // 1.5 s) up to the last frame that begins before the end.
        ExportRequest r = request({first, second}, format, name);
        r.fromMs = kBase + 1'200;
        r.untilMs = kBase + 2'100;
        ASSERT_EQ(run(r).status, ExportResult::Status::Done);
        ReadBack out = readBack(r.outputPath);
        EXPECT_EQ(out.timesMs, (std::vector<int64_t>{0, 500, 1000}));
        if (format == ExportFormat::MkvCopy) {
            EXPECT_TRUE(out.packets == std::vector(firstPackets.begin() + 2, firstPackets.begin() + 5));
        }

        // Across the gap between two clips.
        r.fromMs = kBase + 2'200;
        r.untilMs = kBase + 10'600;
        ASSERT_EQ(run(r).status, ExportResult::Status::Done);
        out = readBack(r.outputPath);
        EXPECT_EQ(out.timesMs, (std::vector<int64_t>{0, 500, 8000, 8500}));
        expectProbesClean(r.outputPath);
    }

    // A range inside the gap has no footage: nothing is written.
    ExportRequest empty = request({first, second}, ExportFormat::Mp4H264, "empty.mp4");
    empty.fromMs = kBase + 4'000;
    empty.untilMs = kBase + 9'000;
    EXPECT_EQ(run(empty).status, ExportResult::Status::NothingToExport);
    EXPECT_FALSE(exists(empty.outputPath));
}

TEST(ClipStartFromFileName, ReadsTheLocalStampOfRecordedNamesOnly) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 10;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const int64_t expected = int64_t(std::mktime(&local)) * 1000;
    EXPECT_EQ(clipStartFromFileName("202612081005090003.avi"), expected);
    EXPECT_EQ(clipStartFromFileName("/records/202612081005090003_2.avi"), expected);
    EXPECT_EQ(clipStartFromFileName("clip.avi"), std::nullopt);
    EXPECT_EQ(clipStartFromFileName("2026120810050"), std::nullopt);
    EXPECT_EQ(clipStartFromFileName("2026120810x5090003.avi"), std::nullopt);
    EXPECT_EQ(clipStartFromFileName("202613081005090003.avi"), std::nullopt);
    EXPECT_EQ(clipStartFromFileName("/2026/12/clip.avi"), std::nullopt);
}

TEST_F(ClipExport, JobReportsProgressByQueuedSignalsAndCancelsFromTheWindowThread) {
    const ExportClip source = clip("clip.avi", kBase, 20, 0);
    {
        ExportJob job(request({source}, ExportFormat::MkvCopy, "job.mkv"));
        QSignalSpy progress(&job, &ExportJob::progressed);
        QSignalSpy finished(&job, &ExportJob::finished);
        job.start();
        EXPECT_TRUE(job.running());
        ASSERT_TRUE(finished.wait(20'000));
        EXPECT_FALSE(job.running());
        EXPECT_EQ(job.result().status, ExportResult::Status::Done);
        ASSERT_FALSE(progress.isEmpty());
        EXPECT_LE(progress.size(), 21); // at most once per percentage step
        EXPECT_EQ(progress.last().at(0).toInt(), 100);
        EXPECT_EQ(progress.last().at(1).toInt(), 0);
    }
    {
        // Cancelled before the worker gets far; the finished signal still comes.
        ExportJob job(request({source}, ExportFormat::Mp4H264, "cancel.mp4"));
        QSignalSpy finished(&job, &ExportJob::finished);
        job.start();
        job.cancel();
        ASSERT_TRUE(finished.wait(20'000));
        EXPECT_EQ(job.result().status, ExportResult::Status::Cancelled);
        EXPECT_FALSE(exists(m_dir.file("cancel.mp4")));
    }
    {
        // Destroying a running job stops and joins its worker.
        ExportJob job(request({source}, ExportFormat::Mp4H264, "dropped.mp4"));
        job.start();
    }
    EXPECT_FALSE(exists(m_dir.file("dropped.mp4.partial")));
}

TEST(ExportJobTimeLeft, ExtrapolatesFromTheTimeSpent) {
    using std::chrono::milliseconds;
    EXPECT_EQ(ExportJob::secondsLeft(0, 100, milliseconds(5000)), std::nullopt);
    EXPECT_EQ(ExportJob::secondsLeft(25, 100, milliseconds(10'000)), 30);
    EXPECT_EQ(ExportJob::secondsLeft(100, 100, milliseconds(10'000)), 0);
    EXPECT_EQ(ExportJob::secondsLeft(120, 100, milliseconds(10'000)), 0); // estimate was low
}
