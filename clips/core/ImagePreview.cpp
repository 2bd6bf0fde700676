#include "clips/core/ImagePreview.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ImagePreview::ImagePreview()
    : m_buffer(kBufferSize, 0) {}

ImagePreview::Load ImagePreview::load(const std::string& path) {
    if (path == m_path)
        return Load::Unchanged;
    m_path = path;
    m_length = 0;
    m_valid = false;

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Load::Missing;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Load::Missing;
    }
    // One byte more than fits tells a file that grew since fstat.
    bool tooLong = uint64_t(st.st_size) > kBufferSize;
    while (!tooLong) {
        uint8_t extra;
        uint8_t* at = m_length < kBufferSize ? m_buffer.data() + m_length : &extra;
        const size_t room = m_length < kBufferSize ? kBufferSize - m_length : 1;
        const ssize_t n = ::read(fd, at, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (at == &extra)
            tooLong = true;
        else
            m_length += size_t(n);
    }
    ::close(fd);
    if (tooLong) {
        m_length = 0;
        return Load::TooLong;
    }
    chooseDecompressor();
    m_valid = true;
    return Load::Loaded;
}

void ImagePreview::chooseDecompressor() {
    const auto header = BitmapInfoHeader::parse(bytes());
    if (!header) {
        m_decompressor.reset();
        return;
    }
    if (m_decompressor && !m_decompressor->canDecompress(*header))
        m_decompressor.reset();
    for (const char* handler : {"iv50", "iv32"}) {
        if (m_decompressor)
            break;
        m_decompressor = VideoDecompressor::open(handler);
        if (m_decompressor && !m_decompressor->canDecompress(*header))
            m_decompressor.reset();
    }
    if (!m_decompressor)
        m_decompressor = VideoDecompressor::locate(*header);
}

std::optional<std::vector<uint8_t>> ImagePreview::decode() {
    if (!valid())
        return std::nullopt;
    return m_decompressor->decompress(bytes());
}
