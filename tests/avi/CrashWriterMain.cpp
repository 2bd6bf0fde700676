// Records small uncompressed frames into a clip until it is killed, printing
// the number of frames written after each one. The killed-recording test runs
// it and kills it with SIGKILL in the middle of a recording.
//   avi_crash_writer <path> <sync interval ms> <segment limit bytes>
#include "platform/avi/AviWriter.h"
#include "tests/avi/ClipTestTools.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    AviWriter::Options options;
    options.syncInterval = std::chrono::milliseconds(std::atoi(argv[2]));
    options.segmentLimit = std::strtoull(argv[3], nullptr, 10);
    auto writer = AviWriter::create(argv[1], options);
    if (!writer)
        return 1;
    const std::vector<uint8_t> first = cliptest::rawFrame(32, 24, 0);
    writer->createStream(AviStreamInfo::forClip(PackedDibView(first).header()));
    writer->setFormat(std::span(first).first(BitmapInfoHeader::kSize));
    for (int i = 0;; ++i) {
        const std::vector<uint8_t> frame = cliptest::rawFrame(32, 24, i);
        if (!writer->write(PackedDibView(frame).image()))
            return 1;
        std::printf("%d\n", i + 1);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
