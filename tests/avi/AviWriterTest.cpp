#include "platform/avi/AviWriter.h"
#include "platform/media/MediaPlayer.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cliptest;

namespace {

// strh sits at a fixed place: RIFF(12) LIST hdrl(12) avih(8+56) LIST strl(12) strh(8).
constexpr size_t kStrh = 108;
constexpr size_t kStrhLength = kStrh + 32;

std::vector<uint8_t> image(const std::vector<uint8_t>& frame) {
    const auto bytes = PackedDibView(frame).image();
    return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& file, uint64_t offset, uint64_t size) {
    return {file.begin() + ptrdiff_t(offset), file.begin() + ptrdiff_t(offset + size)};
}

// Plays the clip with our engine and checks that each listed frame is the
// uncompressed frame written there, byte for byte.
void expectEngineShows(const std::string& path, int64_t total, const std::vector<int64_t>& frames,
                       const std::function<std::vector<uint8_t>(int64_t)>& expected) {
    MediaPlayer player;
    ASSERT_TRUE(player.open(path)) << player.errorText();
    EXPECT_EQ(player.totalFrames(), total);
    EXPECT_DOUBLE_EQ(player.averageTimePerFrame(), 0.5);
    for (int64_t i : frames) {
        ASSERT_TRUE(player.seek(i)) << "frame " << i;
        const auto dib = player.currentImage();
        ASSERT_TRUE(dib);
        EXPECT_TRUE(*dib == expected(i)) << "frame " << i;
    }
}

void expectProbe(const std::string& path, const std::string& codec, const std::string& tag, int64_t frames,
                 int width, int height) {
    auto p = probe(path);
    EXPECT_EQ(p["codec_name"], codec);
    EXPECT_EQ(p["codec_tag_string"], tag);
    EXPECT_EQ(p["r_frame_rate"], "2/1");
    EXPECT_EQ(p["nb_frames"], std::to_string(frames));
    EXPECT_EQ(p["nb_read_packets"], std::to_string(frames));
    EXPECT_EQ(p["width"], std::to_string(width));
    EXPECT_EQ(p["height"], std::to_string(height));
}

} // namespace

TEST(AviWriterLayout, OneSampleClipHasTheRecordingStreamHeaderFormatSampleAndIndex) {
    TempDir dir;
    const auto frames = jpegFrames(dir.path(), 1, 320, 240);
    ASSERT_EQ(frames.size(), 1u);
    const std::string path = dir.file("one.avi");
    ASSERT_TRUE(writeClip(path, frames));
    const auto file = readFile(path);
    const uint32_t sampleSize = PackedDibView(frames[0]).header().biSizeImage;

    const auto top = chunks(file, 0, file.size());
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].id, "RIFF");
    EXPECT_EQ(top[0].listType, "AVI ");
    EXPECT_EQ(top[0].end(), file.size());

    const auto riff = children(file, top[0]);
    ASSERT_EQ(riff.size(), 3u);
    EXPECT_EQ(riff[0].listType, "hdrl");
    EXPECT_EQ(riff[1].listType, "movi");
    EXPECT_EQ(riff[2].id, "idx1");

    const auto hdrl = children(file, riff[0]);
    const auto avih = find(hdrl, "avih");
    ASSERT_TRUE(avih);
    ASSERT_EQ(avih->size, 56u);
    const uint64_t a = avih->dataOffset();
    EXPECT_EQ(le32(file, a), 500000u);    // microseconds per frame
    EXPECT_EQ(le32(file, a + 12), 0x10u); // has an index
    EXPECT_EQ(le32(file, a + 16), 1u);    // total frames
    EXPECT_EQ(le32(file, a + 24), 1u);    // streams
    EXPECT_EQ(le32(file, a + 32), 320u);
    EXPECT_EQ(le32(file, a + 36), 240u);

    const auto strl = find(hdrl, "strl");
    ASSERT_TRUE(strl);
    const auto streamChunks = children(file, *strl);
    EXPECT_FALSE(find(streamChunks, "strn")) << "the stream has no name";
    const auto strh = find(streamChunks, "strh");
    ASSERT_TRUE(strh);
    ASSERT_EQ(strh->size, 56u);
    const uint64_t s = strh->dataOffset();
    EXPECT_EQ(s, kStrh);
    EXPECT_EQ(fourcc(le32(file, s)), "vids");
    EXPECT_EQ(fourcc(le32(file, s + 4)), "MJPG");
    const std::vector<uint32_t> expected = {0,          // flags
                                            0,          // priority, language
                                            0,          // initial frames
                                            1,          // scale
                                            2,          // rate
                                            0,          // start
                                            1,          // length
                                            sampleSize, // suggested buffer size
                                            0,          // quality
                                            0};         // sample size
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(le32(file, s + 8 + 4 * i), expected[i]) << "strh word " << i + 2;
    EXPECT_EQ(le16(file, s + 48), 0);
    EXPECT_EQ(le16(file, s + 50), 0);
    EXPECT_EQ(le16(file, s + 52), 320);
    EXPECT_EQ(le16(file, s + 54), 240);

    const auto strf = find(streamChunks, "strf");
    ASSERT_TRUE(strf);
    EXPECT_EQ(strf->size, 40u);
    EXPECT_EQ(slice(file, strf->dataOffset(), 40), slice(frames[0], 0, 40));

    const auto movi = children(file, riff[1]);
    ASSERT_EQ(movi.size(), 1u);
    EXPECT_EQ(movi[0].id, "00dc");
    EXPECT_EQ(movi[0].size, sampleSize);
    EXPECT_EQ(slice(file, movi[0].dataOffset(), sampleSize), image(frames[0]));

    ASSERT_EQ(riff[2].size, 16u);
    const uint64_t x = riff[2].dataOffset();
    EXPECT_EQ(fourcc(le32(file, x)), "00dc");
    EXPECT_EQ(le32(file, x + 4), 0x10u); // key frame
    EXPECT_EQ(le32(file, x + 8), movi[0].offset - (riff[1].offset + 8));
    EXPECT_EQ(le32(file, x + 12), sampleSize);

    expectProbe(path, "mjpeg", "MJPG", 1, 320, 240);
    MediaPlayer player;
    ASSERT_TRUE(player.open(path)) << player.errorText();
    EXPECT_EQ(player.totalFrames(), 1);
    EXPECT_DOUBLE_EQ(player.durationSeconds(), 0.5);
}

TEST(AviWriterLayout, ManySamplesKeepTheirBytesOrderAndPadding) {
    TempDir dir;
    const std::string path = dir.file("many.avi");
    auto writer = AviWriter::create(path);
    ASSERT_TRUE(writer);
    BitmapInfoHeader format;
    format.biWidth = 176;
    format.biHeight = 144;
    format.biBitCount = 24;
    format.biCompression = makeFourCC('i', 'v', '5', '0');
    format.biSizeImage = 4000;
    ASSERT_TRUE(writer->createStream(AviStreamInfo::forClip(format)));
    uint8_t header[40];
    format.write(header);
    ASSERT_TRUE(writer->setFormat(header));

    // Sample sizes vary from frame to frame and are odd and even; the format
    // keeps the first frame's size.
    std::vector<std::vector<uint8_t>> samples;
    for (int i = 0; i < 40; ++i) {
        std::vector<uint8_t> sample(size_t(101 + 7 * i));
        for (size_t j = 0; j < sample.size(); ++j)
            sample[j] = uint8_t(i * 13 + j * 31);
        ASSERT_TRUE(writer->write(sample, i % 3 != 1));
        samples.push_back(std::move(sample));
    }
    EXPECT_EQ(writer->samplesWritten(), 40);
    ASSERT_TRUE(writer->close());

    const auto file = readFile(path);
    const auto riff = children(file, chunks(file, 0, file.size()).at(0));
    const auto moviList = find(riff, "movi");
    const auto idx1 = find(riff, "idx1");
    ASSERT_TRUE(moviList && idx1);
    const auto movi = children(file, *moviList);
    ASSERT_EQ(movi.size(), 40u);
    ASSERT_EQ(idx1->size, 40u * 16);
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(movi[i].id, "00dc");
        EXPECT_EQ(movi[i].size, samples[i].size());
        EXPECT_EQ(slice(file, movi[i].dataOffset(), samples[i].size()), samples[i]) << i;
        if (samples[i].size() & 1) {
            EXPECT_EQ(file[movi[i].dataOffset() + samples[i].size()], 0) << "pad byte " << i;
        }
        const uint64_t e = idx1->dataOffset() + 16 * i;
        EXPECT_EQ(le32(file, e + 4), i % 3 != 1 ? 0x10u : 0u);
        EXPECT_EQ(le32(file, e + 8), movi[i].offset - (moviList->offset + 8));
        EXPECT_EQ(le32(file, e + 12), samples[i].size());
    }
    EXPECT_EQ(le32(file, kStrh + 36), 4000u) << "suggested buffer size stays the format's";

    auto p = probe(path);
    EXPECT_EQ(p["codec_tag_string"], "iv50");
    EXPECT_EQ(p["nb_frames"], "40");
    EXPECT_EQ(p["nb_read_packets"], "40");
}

TEST(AviWriterLayout, UncompressedFramesAreDbChunksThatPlayBackExactly) {
    TempDir dir;
    const std::string path = dir.file("raw.avi");
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 12; ++i)
        frames.push_back(rawFrame(33, 20, i)); // 99-byte rows, padded to 100
    ASSERT_TRUE(writeClip(path, frames));

    const auto file = readFile(path);
    const auto riff = children(file, chunks(file, 0, file.size()).at(0));
    const auto movi = children(file, *find(riff, "movi"));
    ASSERT_EQ(movi.size(), 12u);
    EXPECT_EQ(movi[0].id, "00db");

    auto p = probe(path);
    EXPECT_EQ(p["codec_name"], "rawvideo");
    EXPECT_EQ(p["nb_read_packets"], "12");
    expectEngineShows(path, 12, {0, 11, 5, 6, 1}, [&](int64_t i) { return frames[size_t(i)]; });
}

TEST(AviWriterUse, RefusesMisuseAndReportsFailedCreation) {
    TempDir dir;
    int error = 0;
    EXPECT_FALSE(AviWriter::create(dir.file("missing/clip.avi"), {}, &error));
    EXPECT_EQ(error, ENOENT);

    auto writer = AviWriter::create(dir.file("clip.avi"));
    ASSERT_TRUE(writer);
    const std::vector<uint8_t> frame = rawFrame(8, 8, 0);
    const BitmapInfoHeader header = PackedDibView(frame).header();
    EXPECT_FALSE(writer->setFormat(std::span(frame).first(40))) << "format before the stream";
    EXPECT_FALSE(writer->write(PackedDibView(frame).image())) << "sample before the format";

    AviStreamInfo audio = AviStreamInfo::forClip(header);
    audio.fccType = makeFourCC('a', 'u', 'd', 's');
    EXPECT_FALSE(writer->createStream(audio));
    AviStreamInfo noRate = AviStreamInfo::forClip(header);
    noRate.dwRate = 0;
    EXPECT_FALSE(writer->createStream(noRate));

    ASSERT_TRUE(writer->createStream(AviStreamInfo::forClip(header)));
    EXPECT_FALSE(writer->createStream(AviStreamInfo::forClip(header))) << "one stream only";
    ASSERT_TRUE(writer->setFormat(std::span(frame).first(40)));
    EXPECT_FALSE(writer->setFormat(std::span(frame).first(40))) << "the format is set once";
    EXPECT_TRUE(writer->write(PackedDibView(frame).image()));
    EXPECT_TRUE(writer->close());
    EXPECT_TRUE(writer->close()) << "closing again repeats the result";
    EXPECT_FALSE(writer->write(PackedDibView(frame).image()));
    EXPECT_FALSE(writer->flush());
}

TEST(AviWriterUse, NeverReplacesOrFollowsANameThatIsTaken) {
    TempDir dir;
    const std::string path = dir.file("clip.avi");
    std::vector<std::vector<uint8_t>> frames(3, rawFrame(64, 48, 3));
    const mode_t oldMask = ::umask(022);
    ASSERT_TRUE(writeClip(path, frames));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "footage is not world-readable";
    const auto before = readFile(path);

    int error = 0;
    EXPECT_FALSE(AviWriter::create(path, {}, &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(readFile(path), before);

    // A link planted at the name is not followed, dangling or not.
    const std::string outside = dir.file("outside");
    std::ofstream(outside) << "keep";
    ASSERT_EQ(::symlink(outside.c_str(), dir.file("linked.avi").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling.avi").c_str()), 0);
    EXPECT_FALSE(AviWriter::create(dir.file("linked.avi"), {}, &error));
    EXPECT_FALSE(AviWriter::create(dir.file("dangling.avi"), {}, &error));
    EXPECT_EQ(readFile(outside).size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
    ::umask(oldMask);
}

TEST(AviWriterDurability, HeaderIsUpdatedOnDiskWhileRecording) {
    TempDir dir;
    const std::vector<uint8_t> frame = rawFrame(16, 16, 1);
    const auto sample = PackedDibView(frame).image();

    AviWriter::Options everySample;
    everySample.syncInterval = std::chrono::milliseconds(0);
    auto eager = AviWriter::create(dir.file("eager.avi"), everySample);
    ASSERT_TRUE(eager && eager->createStream(AviStreamInfo::forClip(PackedDibView(frame).header())));
    ASSERT_TRUE(eager->setFormat(std::span(frame).first(40)));
    for (uint32_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(eager->write(sample));
        const auto file = readFile(dir.file("eager.avi"));
        EXPECT_EQ(le32(file, kStrhLength), i);
        EXPECT_EQ(le32(file, 4), file.size() - 8) << "RIFF size";
    }

    // Samples followed by a pause reach the disk once a timer calls flushIfDue().
    auto now = std::chrono::steady_clock::time_point{};
    AviWriter::Options manualClock;
    manualClock.syncInterval = std::chrono::seconds(2);
    manualClock.clock = [&] {
        return now;
    };
    auto paused = AviWriter::create(dir.file("paused.avi"), manualClock);
    ASSERT_TRUE(paused && paused->createStream(AviStreamInfo::forClip(PackedDibView(frame).header())));
    ASSERT_TRUE(paused->setFormat(std::span(frame).first(40)));
    ASSERT_TRUE(paused->write(sample));
    ASSERT_TRUE(paused->flushIfDue());
    EXPECT_EQ(le32(readFile(dir.file("paused.avi")), kStrhLength), 0u) << "not due yet";
    now += std::chrono::milliseconds(1999);
    ASSERT_TRUE(paused->flushIfDue());
    EXPECT_EQ(le32(readFile(dir.file("paused.avi")), kStrhLength), 0u) << "not due yet";
    now += std::chrono::milliseconds(1);
    ASSERT_TRUE(paused->flushIfDue());
    EXPECT_EQ(le32(readFile(dir.file("paused.avi")), kStrhLength), 1u);

    AviWriter::Options rarely;
    rarely.syncInterval = std::chrono::hours(1);
    auto lazy = AviWriter::create(dir.file("lazy.avi"), rarely);
    ASSERT_TRUE(lazy && lazy->createStream(AviStreamInfo::forClip(PackedDibView(frame).header())));
    ASSERT_TRUE(lazy->setFormat(std::span(frame).first(40)));
    ASSERT_TRUE(lazy->write(sample));
    ASSERT_TRUE(lazy->write(sample));
    EXPECT_EQ(le32(readFile(dir.file("lazy.avi")), kStrhLength), 0u);
    ASSERT_TRUE(lazy->flush());
    const auto file = readFile(dir.file("lazy.avi"));
    EXPECT_EQ(le32(file, kStrhLength), 2u);
    EXPECT_EQ(le32(file, 4), file.size() - 8);
}

// A recording killed with SIGKILL keeps every frame up to the last on-disk
// update, both in a plain file and past the OpenDML segment limit.
class KilledRecording : public ::testing::TestWithParam<uint64_t> {};

TEST_P(KilledRecording, IsReadUpToTheLastUpdate) {
    TempDir dir;
    const std::string path = dir.file("killed.avi");
    const std::string interval = "100";
    const std::string limit = std::to_string(GetParam());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char* argv[] = {AVI_CRASH_WRITER, path.c_str(), interval.c_str(), limit.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, AVI_CRASH_WRITER, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    // Kill it once at least 40 frames are written.
    FILE* progress = fdopen(out[0], "r");
    int written = 0;
    while (written < 40 && fscanf(progress, "%d", &written) == 1) {
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    fclose(progress);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(written, 40);

    // Updates come at least every 100 ms and frames every 10 ms or slower, so
    // at most about 11 frames lie past the last update.
    const auto file = readFile(path);
    const int64_t counted = le32(file, kStrhLength);
    EXPECT_GE(counted, 20);
    EXPECT_LE(counted, written);
    auto p = probe(path);
    EXPECT_EQ(p["codec_name"], "rawvideo");
    EXPECT_GE(std::stoll(p["nb_read_packets"]), counted);
    expectEngineShows(path, counted, {0, counted / 2, counted - 1},
                      [](int64_t i) { return rawFrame(32, 24, int(i)); });
}

INSTANTIATE_TEST_SUITE_P(AviWriterDurability, KilledRecording,
                         ::testing::Values(uint64_t{1} << 30, uint64_t{20000}));

TEST(AviWriterDurability, FullDiskFailsTheWriteButKeepsEverySampleBefore) {
    TempDir dir;
    const std::string path = dir.file("full.avi");
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 8; ++i)
        frames.push_back(rawFrame(32, 24, i));
    const uint64_t chunk = 8 + PackedDibView(frames[0]).header().biSizeImage;

    auto writer = AviWriter::create(path);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->createStream(AviStreamInfo::forClip(PackedDibView(frames[0]).header())));
    ASSERT_TRUE(writer->setFormat(std::span(frames[0]).first(40)));
    const uint64_t headerSize = writer->fileSize();
    {
        // Room for five samples and part of a sixth, not for the index.
        FileSizeLimit limit(headerSize + 5 * chunk + 50);
        for (int i = 0; i < 8; ++i) {
            const bool ok = writer->write(PackedDibView(frames[size_t(i)]).image());
            EXPECT_EQ(ok, i < 5) << "frame " << i;
            if (!ok) {
                EXPECT_EQ(writer->lastError(), EFBIG);
            }
        }
        EXPECT_EQ(writer->samplesWritten(), 5);
        EXPECT_EQ(writer->fileSize(), headerSize + 5 * chunk);
        EXPECT_FALSE(writer->close()) << "the index did not fit";
    }
    const auto file = readFile(path);
    EXPECT_EQ(file.size(), headerSize + 5 * chunk) << "the partial chunk was cut off";
    EXPECT_EQ(le32(file, 4), file.size() - 8);
    EXPECT_EQ(le32(file, kStrhLength), 5u);
    auto p = probe(path);
    EXPECT_EQ(p["nb_read_packets"], "5");
    expectEngineShows(path, 5, {0, 4, 2}, [&](int64_t i) { return frames[size_t(i)]; });
}

TEST(AviWriterOpenDml, SegmentsPastTheLimitAreIndexedAndReadable) {
    TempDir dir;
    const std::string path = dir.file("segments.avi");
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 30; ++i)
        frames.push_back(rawFrame(32, 24, i));
    AviWriter::Options options;
    options.segmentLimit = 10000; // four samples of 2312 bytes each, plus headers
    {
        auto writer = AviWriter::create(path, options);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->createStream(AviStreamInfo::forClip(PackedDibView(frames[0]).header())));
        ASSERT_TRUE(writer->setFormat(std::span(frames[0]).first(40)));
        for (const auto& frame : frames)
            ASSERT_TRUE(writer->write(PackedDibView(frame).image()));
        EXPECT_GT(writer->segmentCount(), 5u);
        ASSERT_TRUE(writer->close());
    }

    const auto file = readFile(path);
    const auto top = chunks(file, 0, file.size());
    ASSERT_GT(top.size(), 5u);
    EXPECT_EQ(top[0].listType, "AVI ");
    for (size_t i = 1; i < top.size(); ++i)
        EXPECT_EQ(top[i].listType, "AVIX") << i;
    EXPECT_EQ(top.back().end(), file.size());

    const auto riff = children(file, top[0]);
    const auto hdrl = children(file, riff.at(0));
    const auto strl = children(file, *find(hdrl, "strl"));
    const auto indx = find(strl, "indx");
    ASSERT_TRUE(indx);
    const uint64_t base = indx->dataOffset();
    EXPECT_EQ(le16(file, base), 4);
    const uint32_t segments = le32(file, base + 4);
    EXPECT_EQ(segments, top.size());
    EXPECT_EQ(fourcc(le32(file, base + 8)), "00db");

    // Every chunk index lists its segment's samples, in order, at the right bytes.
    uint32_t frame = 0;
    for (uint32_t s = 0; s < segments; ++s) {
        const uint64_t entry = base + 24 + 16 * s;
        const uint64_t ixOffset = uint64_t(le32(file, entry)) | uint64_t(le32(file, entry + 4)) << 32;
        const uint32_t duration = le32(file, entry + 12);
        ASSERT_LT(ixOffset + 32, file.size());
        EXPECT_EQ(fourcc(le32(file, ixOffset)), "ix00");
        EXPECT_EQ(le32(file, entry + 8), 8 + le32(file, ixOffset + 4));
        EXPECT_EQ(le32(file, ixOffset + 12), duration);
        const uint64_t ixBase = uint64_t(le32(file, ixOffset + 20)) | uint64_t(le32(file, ixOffset + 24))
                                                                          << 32;
        for (uint32_t k = 0; k < duration; ++k, ++frame) {
            const uint32_t offset = le32(file, ixOffset + 32 + 8 * k);
            const uint32_t size = le32(file, ixOffset + 36 + 8 * k);
            ASSERT_LT(frame, frames.size());
            EXPECT_EQ(size, image(frames[frame]).size()) << "key frames have bit 31 clear";
            EXPECT_EQ(slice(file, ixBase + offset, size), image(frames[frame])) << "frame " << frame;
        }
    }
    EXPECT_EQ(frame, 30u);

    const auto odml = find(hdrl, "odml");
    ASSERT_TRUE(odml);
    EXPECT_EQ(le32(file, odml->dataOffset() + 12), 30u) << "dmlh total frames";
    const uint32_t firstSegmentFrames = le32(file, base + 24 + 12);
    EXPECT_EQ(le32(file, 32 + 16), firstSegmentFrames) << "avih counts the first segment";
    EXPECT_EQ(le32(file, kStrhLength), 30u) << "strh counts the whole stream";
    const auto idx1 = find(riff, "idx1");
    ASSERT_TRUE(idx1);
    EXPECT_EQ(idx1->size, 16 * firstSegmentFrames);

    auto p = probe(path);
    EXPECT_EQ(p["nb_frames"], "30");
    EXPECT_EQ(p["nb_read_packets"], "30");
    expectEngineShows(path, 30, {29, 0, 17, 4, 5, 28}, [&](int64_t i) { return frames[size_t(i)]; });
}

TEST(AviWriterOpenDml, TheLastSegmentTheSuperIndexHoldsRefusesFurtherSamples) {
    TempDir dir;
    const std::string path = dir.file("full-index.avi");
    const std::vector<uint8_t> frame = rawFrame(8, 8, 2);
    AviWriter::Options options;
    options.segmentLimit = 300; // one 200-byte sample per segment
    auto writer = AviWriter::create(path, options);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->createStream(AviStreamInfo::forClip(PackedDibView(frame).header())));
    ASSERT_TRUE(writer->setFormat(std::span(frame).first(40)));
    int64_t accepted = 0;
    while (accepted <= AviWriter::kMaxSegments && writer->write(image(frame)))
        ++accepted;
    EXPECT_EQ(accepted, AviWriter::kMaxSegments) << "one sample in each segment the super index can name";
    EXPECT_EQ(writer->lastError(), EFBIG);
    EXPECT_FALSE(writer->write(image(frame))) << "refused again, not written past the index";
    EXPECT_EQ(writer->segmentCount(), AviWriter::kMaxSegments);
    ASSERT_TRUE(writer->close());

    const auto file = readFile(path);
    const auto top = chunks(file, 0, file.size());
    ASSERT_EQ(top.size(), AviWriter::kMaxSegments);
    EXPECT_EQ(top.back().end(), file.size());
    const auto hdrl = children(file, children(file, top[0]).at(0));
    const auto strl = children(file, *find(hdrl, "strl"));
    const auto indx = find(strl, "indx");
    ASSERT_TRUE(indx);
    EXPECT_EQ(le32(file, indx->dataOffset() + 4), AviWriter::kMaxSegments);
    // The last entry names the last segment's chunk index; the odml list
    // right after the super index is whole.
    const uint64_t last = indx->dataOffset() + 24 + 16 * (AviWriter::kMaxSegments - 1);
    EXPECT_EQ(fourcc(le32(file, le32(file, last))), "ix00");
    const auto odml = find(hdrl, "odml");
    ASSERT_TRUE(odml);
    EXPECT_EQ(odml->offset, indx->end());
    EXPECT_EQ(fourcc(le32(file, odml->dataOffset() + 4)), "dmlh");
    EXPECT_EQ(le32(file, odml->dataOffset() + 12), uint32_t(accepted)) << "dmlh total frames";
    EXPECT_EQ(probe(path)["nb_read_packets"], std::to_string(accepted));
}

TEST(AviWriterOpenDml, ClipPastOneGibibyteContinuesInASecondSegment) {
    TempDir dir;
    struct statvfs fs {};
    if (statvfs(dir.path().c_str(), &fs) != 0 || uint64_t(fs.f_bavail) * fs.f_frsize < (uint64_t{3} << 30))
        GTEST_SKIP() << "needs 3 GiB of free space in the temporary folder";
    const std::string path = dir.file("big.avi");
    // 16 MiB frames: 65 of them pass 1 GiB.
    const std::vector<std::vector<uint8_t>> frames = {rawFrame(2048, 2730, 0), rawFrame(2048, 2730, 1)};
    AviWriter::Options options;
    options.syncInterval = std::chrono::hours(1);
    auto writer = AviWriter::create(path, options);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->createStream(AviStreamInfo::forClip(PackedDibView(frames[0]).header())));
    ASSERT_TRUE(writer->setFormat(std::span(frames[0]).first(40)));
    for (int i = 0; i < 65; ++i)
        ASSERT_TRUE(writer->write(PackedDibView(frames[size_t(i % 2)]).image())) << i;
    EXPECT_EQ(writer->segmentCount(), 2u);
    ASSERT_TRUE(writer->close());
    EXPECT_GT(writer->fileSize(), uint64_t{1} << 30);

    auto p = probe(path);
    EXPECT_EQ(p["nb_frames"], "65");
    EXPECT_EQ(p["nb_read_packets"], "65");
    expectEngineShows(path, 65, {64, 63, 0}, [&](int64_t i) { return frames[size_t(i % 2)]; });
}
