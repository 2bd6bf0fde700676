// Feeds the playback engine clip files built from the fuzzer's bytes: mostly
// well-formed AVI files written by our writer around fuzzed headers, colour
// tables and samples, then damaged at fuzzed places, and now and then the raw
// bytes as they are. Opening, seeking, running and snapshots must never read
// or write out of bounds, whatever the file holds.
#include "platform/avi/AviWriter.h"
#include "platform/media/MediaPlayer.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" {
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void writeFuzzedClip(FuzzedDataProvider& in, const std::string& path) {
    BitmapInfoHeader h;
    h.biWidth = in.ConsumeIntegralInRange<int32_t>(-64, 400);
    h.biHeight = in.ConsumeIntegralInRange<int32_t>(-300, 300);
    h.biBitCount = in.PickValueInArray<uint16_t>({0, 1, 4, 8, 15, 16, 24, 32});
    h.biCompression = in.PickValueInArray<uint32_t>(
        {BitmapInfoHeader::kRgb, makeFourCC('M', 'J', 'P', 'G'), makeFourCC('c', 'v', 'i', 'd'),
         makeFourCC('C', 'R', 'A', 'M'), makeFourCC('M', 'S', 'V', 'C'), in.ConsumeIntegral<uint32_t>()});
    h.biClrUsed = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    h.biSizeImage = in.ConsumeIntegral<uint32_t>();
    std::vector<uint8_t> format(BitmapInfoHeader::kSize);
    h.write(format.data());
    const std::vector<uint8_t> table = in.ConsumeBytes<uint8_t>(h.colorTableBytes());
    format.insert(format.end(), table.begin(), table.end());

    ::unlink(path.c_str()); // the writer never replaces a file
    auto writer = AviWriter::create(path);
    if (!writer || !writer->createStream(AviStreamInfo::forClip(h)) || !writer->setFormat(format))
        return;
    const int samples = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < samples; ++i) {
        const auto sample = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
        writer->write(sample, in.ConsumeBool());
    }
    const uint64_t size = writer->fileSize();
    writer->close();

    // Damage a few bytes anywhere in the file.
    const int damage = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < damage && size > 0; ++i) {
        const uint8_t byte = in.ConsumeIntegral<uint8_t>();
        const int fd = ::open(path.c_str(), O_WRONLY);
        if (fd >= 0) {
            (void)::pwrite(fd, &byte, 1, off_t(in.ConsumeIntegralInRange<uint64_t>(0, size - 1)));
            ::close(fd);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    av_log_set_level(AV_LOG_QUIET);
    FuzzedDataProvider in(data, size);
    const int fd = memfd_create("clip", 0);
    if (fd < 0)
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (in.ConsumeBool()) {
        writeFuzzedClip(in, path);
    } else {
        const auto bytes = in.ConsumeRemainingBytes<uint8_t>();
        (void)::write(fd, bytes.data(), bytes.size());
    }

    auto now = std::chrono::steady_clock::time_point{};
    MediaPlayer player([&] { return now; });
    if (player.open(path)) {
        player.setOutputSize(in.ConsumeIntegralInRange(0, 500), in.ConsumeIntegralInRange(0, 500));
        player.seek(player.totalFrames() - 1);
        player.seek(in.ConsumeIntegralInRange<int64_t>(-2, player.totalFrames() + 2));
        player.currentImage();
        player.run();
        now += std::chrono::seconds(in.ConsumeIntegralInRange(0, 10));
        player.tick();
        player.takeEvent();
        player.seek(0);
    }
    player.close();
    ::close(fd);
    return 0;
}
