#include "platform/bitmap/BitmapFile.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace cliptest;

namespace {

std::vector<uint8_t> palettedDib(int width, int height) {
    const uint32_t stride = (uint32_t(width) + 3) & ~3u;
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 8;
    h.biClrUsed = 256;
    h.biSizeImage = stride * uint32_t(height);
    std::vector<uint8_t> dib(BitmapInfoHeader::kSize + 1024 + h.biSizeImage);
    h.write(dib.data());
    for (int i = 0; i < 256; ++i) {
        dib[40 + 4 * i] = uint8_t(i);
        dib[41 + 4 * i] = uint8_t(255 - i);
    }
    for (size_t i = 40 + 1024; i < dib.size(); ++i)
        dib[i] = uint8_t(i);
    return dib;
}

std::string identify(const std::string& path) {
    int status = -1;
    std::string out = run("identify -format '%m %w %h' '" + path + "' 2>&1", &status);
    return status == 0 ? out : "failed: " + out;
}

} // namespace

TEST(BitmapFile, TwentyFourBitPictureGetsOffset54AndSize54PlusImage) {
    TempDir dir;
    const std::vector<uint8_t> dib = rawFrame(320, 240, 3);
    const auto file = BitmapFile::encode(dib);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->size(), 54u + 320 * 3 * 240);
    EXPECT_EQ((*file)[0], 'B');
    EXPECT_EQ((*file)[1], 'M');
    EXPECT_EQ(le32(*file, 2), 54u + 230400);
    EXPECT_EQ(le32(*file, 6), 0u) << "reserved words";
    EXPECT_EQ(le32(*file, 10), 54u);
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), file->begin() + 14));

    const std::string path = dir.file("capture.bmp");
    const mode_t oldMask = ::umask(022);
    ASSERT_TRUE(BitmapFile::save(path, dib));
    ::umask(oldMask);
    EXPECT_EQ(readFile(path), *file);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "footage is not world-readable";
    EXPECT_EQ(identify(path), "BMP3 320 240");
    // The reader sees the picture the right way up: frame colour above, complement below.
    EXPECT_EQ(run("convert '" + path + "' -format '%[pixel:p{160,0}] %[pixel:p{160,239}]' info:"),
              "srgb(230,230,20) srgb(25,25,235)");
}

TEST(BitmapFile, ColourTableMovesThePixelOffsetAndReadersAgree) {
    TempDir dir;
    const std::vector<uint8_t> dib = palettedDib(33, 17);
    const auto file = BitmapFile::encode(dib);
    ASSERT_TRUE(file);
    EXPECT_EQ(le32(*file, 10), 14u + 40 + 1024);
    EXPECT_EQ(le32(*file, 2), 14u + dib.size());
    const std::string path = dir.file("paletted.bmp");
    ASSERT_TRUE(BitmapFile::save(path, dib));
    EXPECT_EQ(identify(path), "BMP3 33 17");
}

TEST(BitmapFile, WritesOnlyTheDeclaredDibFromALargerBlock) {
    // A frame buffer is larger than the picture it holds; the file ends with the
    // picture.
    std::vector<uint8_t> buffer = rawFrame(16, 8, 1);
    const size_t dibSize = buffer.size();
    buffer.resize(230400, 0xAB);
    const auto file = BitmapFile::encode(buffer);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 14 + dibSize);
}

TEST(BitmapFile, RefusesBlocksThatAreNotWholePackedDibs) {
    TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> bad;
    std::vector<uint8_t> cut = rawFrame(16, 8, 1);
    cut.resize(cut.size() - 1);
    bad.emplace_back("image shorter than biSizeImage", cut);
    std::vector<uint8_t> table = rawFrame(16, 8, 1);
    {
        BitmapInfoHeader h = *BitmapInfoHeader::parse(table);
        h.biClrUsed = 0x40000000; // a colour table far beyond the block and 32 bits
        h.write(table.data());
    }
    bad.emplace_back("colour table beyond the block", table);
    std::vector<uint8_t> wrongSize = rawFrame(16, 8, 1);
    wrongSize[0] = 12;
    bad.emplace_back("biSize not 40", wrongSize);
    bad.emplace_back("shorter than a header", std::vector<uint8_t>(39, 40));
    bad.emplace_back("empty", std::vector<uint8_t>{});

    for (const auto& [name, bytes] : bad) {
        EXPECT_FALSE(BitmapFile::encode(bytes)) << name;
        const std::string path = dir.file("refused.bmp");
        int error = 0;
        EXPECT_FALSE(BitmapFile::save(path, bytes, &error)) << name;
        EXPECT_EQ(error, EINVAL) << name;
        EXPECT_FALSE(std::filesystem::exists(path)) << name << ": nothing is written";
    }
}

TEST(BitmapFile, FailedWritesAreReportedAndLeaveNoPartialFile) {
    TempDir dir;
    const std::vector<uint8_t> dib = rawFrame(320, 240, 2);
    int error = 0;
    EXPECT_FALSE(BitmapFile::save(dir.file("no/such/folder/capture.bmp"), dib, &error));
    EXPECT_EQ(error, ENOENT);

    // A full disk, played by a file-size limit.
    const std::string path = dir.file("capture.bmp");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved1 = BitmapFile::save(path, dib, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved1);
    EXPECT_EQ(error, EFBIG);
    EXPECT_FALSE(std::filesystem::exists(path));

    // An existing file is replaced whole, and kept as it was when the save fails.
    std::ofstream(path) << std::string(500000, 'x');
    ASSERT_TRUE(BitmapFile::save(path, dib));
    EXPECT_EQ(std::filesystem::file_size(path), 14 + dib.size());
    setrlimit(RLIMIT_FSIZE, &small);
    oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const bool saved2 = BitmapFile::save(path, rawFrame(160, 120, 3), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved2);
    EXPECT_EQ(std::filesystem::file_size(path), 14 + dib.size());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1); // no partial file
}
