#include "platform/bitmap/BitmapFile.h"

#include <atomic>
#include <string>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

bool report(int* errnoOut, int error) {
    if (errnoOut)
        *errnoOut = error;
    return false;
}

} // namespace

std::optional<std::array<uint8_t, BitmapFile::kFileHeaderSize>>
BitmapFile::fileHeader(const BitmapInfoHeader& header) {
    const uint64_t offset = kFileHeaderSize + uint64_t{header.biSize} + header.colorTableBytes();
    const uint64_t fileSize = offset + header.biSizeImage;
    if (fileSize > UINT32_MAX)
        return std::nullopt;
    std::array<uint8_t, kFileHeaderSize> bytes{};
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes.data() + 2, uint32_t(fileSize));
    put32(bytes.data() + 10, uint32_t(offset));
    return bytes;
}

std::optional<std::vector<uint8_t>> BitmapFile::encode(std::span<const uint8_t> packedDib) {
    const PackedDibView dib(packedDib);
    if (!dib.valid())
        return std::nullopt;
    const auto head = fileHeader(dib.header());
    if (!head)
        return std::nullopt;
    std::vector<uint8_t> file(head->begin(), head->end());
    file.insert(file.end(), dib.whole().begin(), dib.whole().end());
    return file;
}

bool BitmapFile::save(const std::string& path, std::span<const uint8_t> packedDib, int* errnoOut) {
    const auto file = encode(packedDib);
    if (!file)
        return report(errnoOut, EINVAL);

    // Written under a unique name beside the target and renamed over it, so a
    // failed save leaves an existing file as it was and no partial file behind.
    static std::atomic<unsigned> counter{0};
    const std::string partial =
        path + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    // Snapshots are surveillance footage: group-readable, never world-readable.
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0)
        return report(errnoOut, errno);
    int error = 0;
    for (size_t done = 0; done < file->size() && error == 0;) {
        const ssize_t n = ::write(fd, file->data() + done, file->size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n == 0 || errno != EINTR)
            error = n < 0 ? errno : EIO;
    }
    // Some file systems only report a full disk when the data is flushed.
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(partial.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(partial.c_str());
        return report(errnoOut, error);
    }
    return true;
}
