#include "platform/media/MediaPlayer.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace cliptest;
using namespace std::chrono_literals;

namespace {

// A clock the test moves by hand.
struct ManualClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    MediaPlayer::Clock function() {
        return [this] {
            return now;
        };
    }
};

// The colour of one pixel of the drawable picture.
Rgb pixel(const VideoImage& image, int x, int y) {
    uint32_t word;
    std::memcpy(&word, image.pixels.data() + size_t(y) * image.stride + size_t(x) * 4, 4);
    return {uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
}

Rgb complement(Rgb c) {
    return {uint8_t(255 - c.r), uint8_t(255 - c.g), uint8_t(255 - c.b)};
}

// Expects the drawable picture to be raw frame `index`: its colour above, the
// complement below.
void expectShows(const MediaPlayer& player, int index) {
    const VideoImage& image = player.image();
    ASSERT_GT(image.width, 0);
    EXPECT_TRUE(near(pixel(image, image.width / 2, 0), frameColour(index), 0)) << "frame " << index;
    EXPECT_TRUE(near(pixel(image, image.width / 2, image.height - 1), complement(frameColour(index)), 0))
        << "frame " << index;
}

void writeBytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class RawClip : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 12; ++i)
            m_frames.push_back(rawFrame(33, 20, i));
        ASSERT_TRUE(writeClip(m_path, m_frames));
    }

    TempDir m_dir;
    const std::string m_path = m_dir.file("clip.avi");
    std::vector<std::vector<uint8_t>> m_frames;
    ManualClock m_clock;
    MediaPlayer m_player{m_clock.function()};
};

} // namespace

TEST_F(RawClip, OpensStoppedOnTheFirstFrameWithTheClipTimes) {
    ASSERT_TRUE(m_player.open(m_path)) << m_player.errorText();
    EXPECT_EQ(m_player.state(), PlayState::Stopped);
    EXPECT_EQ(m_player.totalFrames(), 12);
    EXPECT_DOUBLE_EQ(m_player.averageTimePerFrame(), 0.5);
    EXPECT_DOUBLE_EQ(m_player.durationSeconds(), 6.0);
    EXPECT_EQ(m_player.currentFrame(), 0);
    EXPECT_EQ(m_player.videoWidth(), 33);
    EXPECT_EQ(m_player.videoHeight(), 20);
    expectShows(m_player, 0);

    m_player.close();
    EXPECT_EQ(m_player.state(), PlayState::None);
    EXPECT_FALSE(m_player.run());
    EXPECT_FALSE(m_player.seek(3));
    EXPECT_FALSE(m_player.tick());
    EXPECT_FALSE(m_player.currentImage());
    ASSERT_TRUE(m_player.open(m_path)) << "a closed player opens again";
}

TEST_F(RawClip, SeeksAndStepsToExactFramesAndClampsToTheEnds) {
    ASSERT_TRUE(m_player.open(m_path));
    // Forward, back, far, near: each picture is exactly the frame asked for.
    for (int frame : {1, 2, 7, 6, 5, 11, 0, 9, 10, 3}) {
        ASSERT_TRUE(m_player.seek(frame));
        EXPECT_EQ(m_player.currentFrame(), frame);
        EXPECT_EQ(m_player.currentImage(), m_frames[size_t(frame)]) << "frame " << frame;
        expectShows(m_player, frame);
    }
    // The end position is one past the last frame and shows the last frame.
    ASSERT_TRUE(m_player.seek(12));
    EXPECT_EQ(m_player.currentFrame(), 12);
    EXPECT_DOUBLE_EQ(m_player.currentSeconds(), m_player.durationSeconds());
    EXPECT_EQ(m_player.currentImage(), m_frames[11]);
    ASSERT_TRUE(m_player.seek(500));
    EXPECT_EQ(m_player.currentFrame(), 12);
    ASSERT_TRUE(m_player.seek(-4));
    EXPECT_EQ(m_player.currentFrame(), 0);
    EXPECT_EQ(m_player.currentImage(), m_frames[0]);
}

TEST_F(RawClip, DrawsAtTheRequestedSize) {
    ASSERT_TRUE(m_player.open(m_path));
    ASSERT_TRUE(m_player.seek(5));
    m_player.setOutputSize(160, 120);
    EXPECT_EQ(m_player.image().width, 160);
    EXPECT_EQ(m_player.image().height, 120);
    EXPECT_EQ(m_player.image().stride, 640);
    EXPECT_EQ(m_player.image().pixels.size(), 640u * 120);
    expectShows(m_player, 5);
    ASSERT_TRUE(m_player.seek(6));
    EXPECT_EQ(m_player.image().width, 160) << "the size holds for later frames";
    expectShows(m_player, 6);
    EXPECT_EQ(m_player.currentImage(), m_frames[6]) << "the snapshot keeps the clip's own size";
    m_player.setOutputSize(0, 0);
    EXPECT_EQ(m_player.image().width, 33);
}

TEST_F(RawClip, RunningFollowsTheClockAtTheChosenRate) {
    ASSERT_TRUE(m_player.open(m_path));
    ASSERT_TRUE(m_player.run());
    EXPECT_EQ(m_player.state(), PlayState::Running);
    ASSERT_TRUE(m_player.timeToNextFrame());
    EXPECT_EQ(*m_player.timeToNextFrame(), 500ms);

    m_clock.now += 1s; // two frames per second
    EXPECT_EQ(m_player.currentFrame(), 2);
    EXPECT_TRUE(m_player.tick());
    expectShows(m_player, 2);
    EXPECT_FALSE(m_player.tick()) << "no new picture without time passing";

    ASSERT_TRUE(m_player.pause());
    EXPECT_EQ(m_player.state(), PlayState::Paused);
    EXPECT_FALSE(m_player.timeToNextFrame());
    m_clock.now += 5s;
    EXPECT_EQ(m_player.currentFrame(), 2) << "a paused player keeps its place";

    ASSERT_TRUE(m_player.setRate(4.0));
    ASSERT_TRUE(m_player.run());
    EXPECT_EQ(*m_player.timeToNextFrame(), 125ms);
    m_clock.now += 500ms;
    EXPECT_EQ(m_player.currentFrame(), 6);

    // A rate change while running starts from where playback stands.
    ASSERT_TRUE(m_player.setRate(0.1));
    m_clock.now += 5s;
    EXPECT_EQ(m_player.currentFrame(), 7);
    EXPECT_FALSE(m_player.setRate(0));
    EXPECT_FALSE(m_player.setRate(-2));
    EXPECT_DOUBLE_EQ(m_player.rate(), 0.1);

    ASSERT_TRUE(m_player.stop());
    EXPECT_EQ(m_player.state(), PlayState::Stopped);
    EXPECT_EQ(m_player.currentFrame(), 7) << "stop keeps the position";
    expectShows(m_player, 7);

    // Seeking while running plays on from the new place.
    ASSERT_TRUE(m_player.setRate(1.0));
    ASSERT_TRUE(m_player.run());
    ASSERT_TRUE(m_player.seek(1));
    m_clock.now += 1s;
    EXPECT_EQ(m_player.currentFrame(), 3);
}

TEST_F(RawClip, ReachingTheEndQueuesOneCompleteEvent) {
    ASSERT_TRUE(m_player.open(m_path));
    ASSERT_TRUE(m_player.seek(10));
    ASSERT_TRUE(m_player.run());
    m_clock.now += 500ms;
    m_player.tick();
    EXPECT_FALSE(m_player.takeEvent()) << "not at the end yet";

    m_clock.now += 10s;
    m_player.tick();
    EXPECT_EQ(m_player.takeEvent(), MediaEvent::Complete);
    EXPECT_EQ(m_player.currentFrame(), 12);
    EXPECT_DOUBLE_EQ(m_player.currentSeconds(), 6.0);
    EXPECT_EQ(m_player.currentImage(), m_frames[11]);
    EXPECT_FALSE(m_player.timeToNextFrame());
    m_clock.now += 1s;
    m_player.tick();
    EXPECT_FALSE(m_player.takeEvent()) << "the end is reported once";

    // Played again from the start, the end is reported again.
    ASSERT_TRUE(m_player.stop());
    ASSERT_TRUE(m_player.seek(0));
    ASSERT_TRUE(m_player.run());
    m_clock.now += 6s;
    m_player.tick();
    EXPECT_EQ(m_player.takeEvent(), MediaEvent::Complete);

    // A paused player at the end reports nothing.
    ASSERT_TRUE(m_player.pause());
    m_player.tick();
    EXPECT_FALSE(m_player.takeEvent());
}

TEST_F(RawClip, MissingGarbageAndCutFilesFailToOpenCleanly) {
    EXPECT_FALSE(m_player.open(m_dir.file("missing.avi")));
    EXPECT_EQ(m_player.state(), PlayState::None);
    EXPECT_FALSE(m_player.errorText().empty());

    const auto clip = readFile(m_path);
    const auto movi = *find(children(clip, chunks(clip, 0, clip.size()).at(0)), "movi");
    std::vector<uint8_t> garbage(4096);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 7919 >> 3);
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> bad = {
        {"empty", {}},
        {"garbage", garbage},
        {"cut in the header", {clip.begin(), clip.begin() + 200}},
        {"cut before the first sample", {clip.begin(), clip.begin() + ptrdiff_t(movi.offset + 12)}},
    };
    for (const auto& [name, bytes] : bad) {
        const std::string path = m_dir.file("bad.avi");
        writeBytes(path, bytes);
        EXPECT_FALSE(m_player.open(path)) << name;
        EXPECT_EQ(m_player.state(), PlayState::None) << name;
    }
    // A playable video in another container is not a clip.
    const std::string other = m_dir.file("other.mov");
    ASSERT_TRUE(makeToolClip(other, "mjpeg", 2, 32, 24));
    EXPECT_FALSE(m_player.open(other));
    EXPECT_TRUE(m_player.open(m_path)) << "a failed open leaves the player usable";
}

TEST_F(RawClip, ClipCutShortPlaysWhatItHoldsAndAbortsAtTheGap) {
    // The header still counts twelve frames, but only the first few are there.
    const auto clip = readFile(m_path);
    const auto samples = children(clip, *find(children(clip, chunks(clip, 0, clip.size()).at(0)), "movi"));
    ASSERT_EQ(samples.size(), 12u);
    const std::string path = m_dir.file("cut.avi");
    writeBytes(path, std::span(clip).first(samples[5].offset + 100));

    ASSERT_TRUE(m_player.open(path)) << m_player.errorText();
    ASSERT_TRUE(m_player.seek(4));
    EXPECT_EQ(m_player.currentImage(), m_frames[4]);
    EXPECT_FALSE(m_player.seek(9)) << "frame 9 is not in the file";
    EXPECT_EQ(m_player.currentImage(), m_frames[4]) << "the last good picture stays";

    ASSERT_TRUE(m_player.seek(3));
    ASSERT_TRUE(m_player.run());
    m_clock.now += 2s;
    m_player.tick();
    EXPECT_EQ(m_player.takeEvent(), MediaEvent::ErrorAbort);
    m_clock.now += 1s;
    m_player.tick();
    EXPECT_FALSE(m_player.takeEvent()) << "the failure is reported once";
}

TEST(MediaPlayerKeyFrames, SeekDecodesOnFromTheKeyFrameBeforeTheTarget) {
    TempDir dir;
    // Cinepak frames made by the ffmpeg tool, stored with only every fourth
    // sample flagged as a key frame: the engine must land on the key frame and
    // decode on to the exact target.
    const std::string tool = dir.file("tool.avi");
    ASSERT_TRUE(makeToolClip(tool, "cinepak", 12, 160, 120));
    const auto file = readFile(tool);
    const auto riff = children(file, chunks(file, 0, file.size()).at(0));
    const auto movi = children(file, *find(riff, "movi"));
    ASSERT_EQ(movi.size(), 12u);

    BitmapInfoHeader format;
    format.biWidth = 160;
    format.biHeight = 120;
    format.biBitCount = 24;
    format.biCompression = makeFourCC('c', 'v', 'i', 'd');
    format.biSizeImage = movi[0].size;
    const std::string path = dir.file("sparse.avi");
    {
        auto writer = AviWriter::create(path);
        ASSERT_TRUE(writer && writer->createStream(AviStreamInfo::forClip(format)));
        uint8_t header[40];
        format.write(header);
        writer->setFormat(header);
        for (size_t i = 0; i < movi.size(); ++i)
            ASSERT_TRUE(
                writer->write(std::span(file).subspan(movi[i].dataOffset(), movi[i].size), i % 4 == 0));
        ASSERT_TRUE(writer->close());
    }

    MediaPlayer player;
    ASSERT_TRUE(player.open(path)) << player.errorText();
    for (int frame : {7, 6, 2, 3, 11, 9, 0, 5}) {
        ASSERT_TRUE(player.seek(frame));
        const VideoImage& image = player.image();
        EXPECT_TRUE(near(pixel(image, 80, 60), frameColour(frame), 24)) << "frame " << frame;
    }
}

// Clips made by the ffmpeg tool in the formats sites and other programs use,
// and a Motion JPEG clip recorded by our writer.
struct ClipMaker {
    std::string name;
    std::function<bool(const std::string& folder, const std::string& path)> make;
    int tolerance;
};

void PrintTo(const ClipMaker& maker, std::ostream* out) {
    *out << maker.name;
}

class ForeignClip : public ::testing::TestWithParam<ClipMaker> {};

TEST_P(ForeignClip, PlaysEveryFrameWithItsPicture) {
    TempDir dir;
    const std::string path = dir.file("clip.avi");
    ASSERT_TRUE(GetParam().make(dir.path(), path));
    ManualClock clock;
    MediaPlayer player(clock.function());
    ASSERT_TRUE(player.open(path)) << player.errorText();
    EXPECT_EQ(player.totalFrames(), 12);
    EXPECT_DOUBLE_EQ(player.averageTimePerFrame(), 0.5);
    EXPECT_EQ(player.videoWidth(), 160);
    EXPECT_EQ(player.videoHeight(), 120);
    const int tolerance = GetParam().tolerance;
    for (int frame : {0, 1, 2, 9, 8, 11, 4, 12}) {
        ASSERT_TRUE(player.seek(frame));
        const int shown = std::min(frame, 11);
        EXPECT_TRUE(near(pixel(player.image(), 80, 60), frameColour(shown), tolerance)) << "frame " << frame;
        const auto dib = player.currentImage();
        ASSERT_TRUE(dib);
        const PackedDibView view(*dib);
        ASSERT_TRUE(view.valid());
        EXPECT_EQ(view.header().biBitCount, 24);
        EXPECT_EQ(view.header().biSizeImage, 480u * 120);
        const uint8_t* centre = view.image().data() + 60 * 480 + 80 * 3;
        EXPECT_TRUE(near({centre[2], centre[1], centre[0]}, frameColour(shown), tolerance))
            << "frame " << frame;
    }

    ASSERT_TRUE(player.seek(0));
    ASSERT_TRUE(player.run());
    for (int step = 1; step <= 12; ++step) {
        clock.now += 500ms;
        player.tick();
        if (step < 12) {
            EXPECT_TRUE(near(pixel(player.image(), 80, 60), frameColour(step), tolerance)) << "step " << step;
        }
    }
    EXPECT_EQ(player.takeEvent(), MediaEvent::Complete);
}

INSTANTIATE_TEST_SUITE_P(
    MediaPlayerFormats, ForeignClip,
    ::testing::Values(
        ClipMaker{"MotionJpeg", [](auto&, auto& path) { return makeToolClip(path, "mjpeg", 12, 160, 120); },
                  12},
        ClipMaker{"Cinepak", [](auto&, auto& path) { return makeToolClip(path, "cinepak", 12, 160, 120); },
                  24},
        ClipMaker{"MicrosoftVideo1",
                  [](auto&, auto& path) { return makeToolClip(path, "msvideo1", 12, 160, 120); }, 12},
        ClipMaker{"RecordedMotionJpeg",
                  [](auto& folder, auto& path) {
                      const auto frames = jpegFrames(folder, 12, 160, 120);
                      return frames.size() == 12 && writeClip(path, frames);
                  },
                  12}),
    [](const auto& test) { return test.param.name; });
