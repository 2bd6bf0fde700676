#include "platform/avi/AviWriter.h"

#include "platform/log/DialscopeLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyFrame = 0x10;
constexpr uint32_t kNotKeyFrameBit = 0x80000000u;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kSuperIndexBytes = 24 + 16 * AviWriter::kMaxSegments;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kMaxFormatSize = 1u << 20;

// Offsets of the fields that updates rewrite, fixed by the header layout:
// "RIFF" size "AVI " "LIST" size "hdrl" "avih" 56 <avih> "LIST" size "strl" "strh" 56 <strh> ...
constexpr size_t kRiffSize = 4;
constexpr size_t kAvih = 32;
constexpr size_t kAvihMaxBytesPerSec = kAvih + 4;
constexpr size_t kAvihFlags = kAvih + 12;
constexpr size_t kAvihTotalFrames = kAvih + 16;
constexpr size_t kAvihSuggestedBuffer = kAvih + 28;
constexpr size_t kStrh = 108;
constexpr size_t kStrhLength = kStrh + 32;

uint32_t fourCC(const char (&s)[5]) {
    return makeFourCC(s[0], s[1], s[2], s[3]);
}

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Appends little-endian values to a byte vector.
class ByteSink {
public:
    explicit ByteSink(std::vector<uint8_t>& out)
        : m_out(out) {}
    size_t pos() const { return m_out.size(); }
    void u8(uint8_t v) { m_out.push_back(v); }
    void u16(uint16_t v) {
        m_out.resize(m_out.size() + 2);
        put16(m_out.data() + m_out.size() - 2, v);
    }
    void u32(uint32_t v) {
        m_out.resize(m_out.size() + 4);
        put32(m_out.data() + m_out.size() - 4, v);
    }
    void u64(uint64_t v) {
        m_out.resize(m_out.size() + 8);
        put64(m_out.data() + m_out.size() - 8, v);
    }
    void tag(const char (&s)[5]) { u32(fourCC(s)); }
    void zeros(size_t n) { m_out.resize(m_out.size() + n, 0); }
    void bytes(std::span<const uint8_t> b) { m_out.insert(m_out.end(), b.begin(), b.end()); }
    // Writes a chunk size at `at`: everything after the size field up to now.
    void closeChunk(size_t at) { put32(m_out.data() + at, uint32_t(m_out.size() - at - 4)); }

private:
    std::vector<uint8_t>& m_out;
};

} // namespace

AviStreamInfo AviStreamInfo::forClip(const BitmapInfoHeader& format) {
    AviStreamInfo info;
    info.fccHandler = format.biCompression;
    info.dwScale = 1;
    info.dwRate = 2;
    info.dwSuggestedBufferSize = format.biSizeImage;
    info.rcRight = int16_t(format.biWidth);
    info.rcBottom = int16_t(format.biHeight);
    return info;
}

std::unique_ptr<AviWriter> AviWriter::create(const std::string& path, Options options, int* errnoOut) {
    // Never a file that is there already, and never through a symbolic link:
    // a recording must not replace or reach anything it did not create.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        const int error = errno;
        qCWarning(lcAvi, "cannot create %s: %s", path.c_str(), std::strerror(error));
        if (errnoOut)
            *errnoOut = error;
        return nullptr;
    }
    return std::unique_ptr<AviWriter>(new AviWriter(fd, std::move(options)));
}

AviWriter::AviWriter(int fd, Options options)
    : m_fd(fd)
    , m_options(std::move(options)) {
    if (!m_options.clock)
        m_options.clock = [] {
            return std::chrono::steady_clock::now();
        };
}

AviWriter::~AviWriter() {
    close();
}

bool AviWriter::createStream(const AviStreamInfo& info) {
    if (m_closed || m_streamCreated || info.fccType != fourCC("vids") || info.dwScale == 0 ||
        info.dwRate == 0)
        return fail(EINVAL);
    m_info = info;
    // Uncompressed frames are "db" chunks, compressed ones "dc".
    m_chunkId = info.fccHandler == BitmapInfoHeader::kRgb ? fourCC("00db") : fourCC("00dc");
    m_streamCreated = true;
    return true;
}

bool AviWriter::setFormat(std::span<const uint8_t> format) {
    if (m_closed || !m_streamCreated || m_headerWritten || format.size() > kMaxFormatSize)
        return fail(EINVAL);
    m_format.assign(format.begin(), format.end());
    return writeHeader();
}

bool AviWriter::writeHeader() {
    uint32_t width = uint32_t(std::abs(int32_t(m_info.rcRight) - m_info.rcLeft));
    uint32_t height = uint32_t(std::abs(int32_t(m_info.rcBottom) - m_info.rcTop));
    if (auto bih = BitmapInfoHeader::parse(m_format)) {
        width = uint32_t(std::abs(int64_t(bih->biWidth)));
        height = uint32_t(std::abs(int64_t(bih->biHeight)));
    }

    m_header.clear();
    ByteSink b(m_header);
    b.tag("RIFF");
    b.u32(0);
    b.tag("AVI ");
    b.tag("LIST");
    const size_t hdrl = b.pos();
    b.u32(0);
    b.tag("hdrl");

    b.tag("avih");
    b.u32(56);
    b.u32(uint32_t(uint64_t{1000000} * m_info.dwScale / m_info.dwRate)); // microseconds per frame
    b.u32(0);                                                            // max bytes per second
    b.u32(0);                                                            // padding granularity
    b.u32(0);                                                            // flags
    b.u32(0);                                                            // total frames (first segment)
    b.u32(0);                                                            // initial frames
    b.u32(1);                                                            // streams
    b.u32(0);                                                            // suggested buffer size
    b.u32(width);
    b.u32(height);
    b.zeros(16);

    b.tag("LIST");
    const size_t strl = b.pos();
    b.u32(0);
    b.tag("strl");
    b.tag("strh");
    b.u32(56);
    b.u32(m_info.fccType);
    b.u32(m_info.fccHandler);
    b.u32(m_info.dwFlags);
    b.u16(m_info.wPriority);
    b.u16(m_info.wLanguage);
    b.u32(m_info.dwInitialFrames);
    b.u32(m_info.dwScale);
    b.u32(m_info.dwRate);
    b.u32(m_info.dwStart);
    b.u32(0); // length, kept up to date
    b.u32(m_info.dwSuggestedBufferSize);
    b.u32(m_info.dwQuality);
    b.u32(m_info.dwSampleSize);
    b.u16(uint16_t(m_info.rcLeft));
    b.u16(uint16_t(m_info.rcTop));
    b.u16(uint16_t(m_info.rcRight));
    b.u16(uint16_t(m_info.rcBottom));
    b.tag("strf");
    b.u32(uint32_t(m_format.size()));
    b.bytes(m_format);
    if (m_format.size() & 1)
        b.u8(0);
    // Room for the OpenDML super index; a plain "JUNK" chunk until a second
    // segment begins, so a short clip is a plain AVI file.
    m_superIndexOffset = uint32_t(b.pos());
    b.tag("JUNK");
    b.u32(kSuperIndexBytes);
    b.zeros(kSuperIndexBytes);
    b.closeChunk(strl);

    m_odmlOffset = uint32_t(b.pos());
    b.tag("JUNK");
    b.u32(12 + kDmlhBytes);
    b.tag("odml");
    b.tag("dmlh");
    b.u32(kDmlhBytes);
    b.zeros(kDmlhBytes);
    b.closeChunk(hdrl);

    b.tag("LIST");
    b.u32(0);
    b.tag("movi");

    if (!appendBytes(m_header))
        return rollBack(0, m_lastError);
    m_headerWritten = true;
    m_segments = 1;
    m_segment = {0, m_header.size() - 12, m_end, m_end};
    m_lastSync = m_options.clock();
    m_dirty = true;
    return true;
}

bool AviWriter::write(std::span<const uint8_t> sample, bool keyFrame) {
    if (m_closed || !m_headerWritten)
        return fail(EINVAL);
    if (sample.size() > kMaxSampleSize)
        return fail(EFBIG);
    const uint32_t size = uint32_t(sample.size());
    const uint64_t chunkBytes = 8 + uint64_t(size) + (size & 1);
    if (!m_index.empty() && m_end + chunkBytes - m_segment.start > m_options.segmentLimit &&
        !startNextSegment())
        return false;

    uint8_t head[8];
    put32(head, m_chunkId);
    put32(head + 4, size);
    static const uint8_t pad = 0;
    const iovec iov[3] = {{head, sizeof head},
                          {const_cast<uint8_t*>(sample.data()), sample.size()},
                          {const_cast<uint8_t*>(&pad), size_t(size & 1)}};
    const uint64_t chunkOffset = m_end;
    if (!appendv(iov, 3))
        return rollBack(chunkOffset, m_lastError);

    m_index.push_back({chunkOffset, size, keyFrame});
    m_segment.moviEnd = m_segment.end = m_end;
    ++m_totalSamples;
    m_largestSample = std::max(m_largestSample, size);
    m_dirty = true;
    flushIfDue(); // a failure shows in close()
    return true;
}

std::vector<uint8_t> AviWriter::chunkIndex() const {
    std::vector<uint8_t> out;
    ByteSink b(out);
    const uint64_t base = m_segment.moviStart + 8;
    b.tag("ix00");
    b.u32(uint32_t(24 + 8 * m_index.size()));
    b.u16(2); // longs per entry
    b.u8(0);
    b.u8(kIndexOfChunks);
    b.u32(uint32_t(m_index.size()));
    b.u32(m_chunkId);
    b.u64(base);
    b.u32(0);
    for (const IndexEntry& e : m_index) {
        b.u32(uint32_t(e.chunkOffset + 8 - base)); // offset of the data
        b.u32(e.size | (e.keyFrame ? 0 : kNotKeyFrameBit));
    }
    return out;
}

std::vector<uint8_t> AviWriter::legacyIndex() const {
    std::vector<uint8_t> out;
    out.reserve(8 + 16 * m_index.size());
    ByteSink b(out);
    const uint64_t base = m_segment.moviStart + 8; // offsets count from the "movi" tag
    b.tag("idx1");
    b.u32(uint32_t(16 * m_index.size()));
    for (const IndexEntry& e : m_index) {
        b.u32(m_chunkId);
        b.u32(e.keyFrame ? kAviifKeyFrame : 0);
        b.u32(uint32_t(e.chunkOffset - base));
        b.u32(e.size);
    }
    return out;
}

bool AviWriter::startNextSegment() {
    if (m_superIndex.size() + 1 >= kMaxSegments)
        return fail(EFBIG);
    // The current segment's chunk index ends its "movi" list; the first segment
    // also gets the legacy index; then the next segment's headers follow. All
    // in one write, so a failure leaves the file as it was.
    const uint64_t before = m_end;
    std::vector<uint8_t> tail = chunkIndex();
    const SuperIndexEntry entry{before, uint32_t(tail.size()), uint32_t(m_index.size())};
    const uint64_t moviEnd = before + tail.size();
    const bool first = m_superIndex.empty();
    if (first) {
        std::vector<uint8_t> legacy = legacyIndex();
        tail.insert(tail.end(), legacy.begin(), legacy.end());
    }
    const uint64_t segmentEnd = before + tail.size();
    ByteSink b(tail);
    b.tag("RIFF");
    b.u32(0);
    b.tag("AVIX");
    b.tag("LIST");
    b.u32(0);
    b.tag("movi");
    if (!appendBytes(tail))
        return rollBack(before, m_lastError);

    m_segment.moviEnd = moviEnd;
    m_segment.end = segmentEnd;
    if (first) {
        m_firstSegment = m_segment;
        m_firstSegmentSamples = uint32_t(m_index.size());
        m_hasIndexFlag = kAvifHasIndex;
        std::copy_n("indx", 4, m_header.begin() + m_superIndexOffset);
        std::copy_n("LIST", 4, m_header.begin() + m_odmlOffset);
    } else {
        // Earlier segments are final: their sizes go out with this update.
        if (!writeSegmentSizes(m_segment))
            m_syncFailed = true;
    }
    m_superIndex.push_back(entry);
    ++m_segments;
    m_segment = {segmentEnd, segmentEnd + 12, m_end, m_end};
    m_index.clear();
    m_dirty = true;
    return true;
}

bool AviWriter::writeSegmentSizes(const Segment& s) {
    uint8_t sizes[16];
    put32(sizes, uint32_t(s.end - s.start - 8));
    put32(sizes + 4, fourCC("AVIX"));
    put32(sizes + 8, fourCC("LIST"));
    put32(sizes + 12, uint32_t(s.moviEnd - s.moviStart - 8));
    return writeAt(s.start + 4, sizes);
}

bool AviWriter::updateHeader() {
    const bool inFirst = m_superIndex.empty();
    const Segment& first = inFirst ? m_segment : m_firstSegment;
    uint8_t* h = m_header.data();
    put32(h + kRiffSize, uint32_t(first.end - 8));
    put32(h + first.moviStart + 4, uint32_t(first.moviEnd - first.moviStart - 8));
    const uint64_t bytesPerSec = uint64_t(m_largestSample) * m_info.dwRate / m_info.dwScale;
    put32(h + kAvihMaxBytesPerSec, uint32_t(std::min<uint64_t>(bytesPerSec, UINT32_MAX)));
    put32(h + kAvihFlags, m_hasIndexFlag);
    put32(h + kAvihTotalFrames, inFirst ? uint32_t(m_totalSamples) : m_firstSegmentSamples);
    put32(h + kAvihSuggestedBuffer, std::max(m_info.dwSuggestedBufferSize, m_largestSample + 8));
    put32(h + kStrhLength, uint32_t(m_totalSamples));

    uint8_t* super = h + m_superIndexOffset + 8;
    put16(super, 4); // longs per entry
    super[2] = 0;
    super[3] = kIndexOfIndexes;
    put32(super + 4, uint32_t(m_superIndex.size()));
    put32(super + 8, m_chunkId);
    for (size_t i = 0; i < m_superIndex.size(); ++i) {
        uint8_t* e = super + 24 + 16 * i;
        put64(e, m_superIndex[i].offset);
        put32(e + 8, m_superIndex[i].size);
        put32(e + 12, m_superIndex[i].duration);
    }
    put32(h + m_odmlOffset + 20, uint32_t(m_totalSamples)); // dmlh total frames

    bool ok = writeAt(0, m_header);
    if (!inFirst)
        ok = writeSegmentSizes(m_segment) && ok;
    return ok;
}

bool AviWriter::flush() {
    if (m_closed)
        return fail(EINVAL);
    if (!m_headerWritten)
        return true;
    // Samples reach the disk before the sizes that count them.
    bool ok = ::fdatasync(m_fd) == 0;
    if (!ok) {
        m_lastError = errno;
        qCWarning(lcAvi, "sync failed: %s", std::strerror(m_lastError));
    }
    ok = updateHeader() && ok;
    if (::fdatasync(m_fd) != 0) {
        m_lastError = errno;
        ok = false;
    }
    m_lastSync = m_options.clock();
    m_dirty = false;
    if (!ok)
        m_syncFailed = true;
    return ok;
}

bool AviWriter::flushIfDue() {
    if (m_closed || !m_dirty || m_options.clock() - m_lastSync < m_options.syncInterval)
        return true;
    return flush();
}

bool AviWriter::close() {
    if (m_closed)
        return m_closeResult;
    bool ok = !m_syncFailed;
    if (m_headerWritten) {
        const uint64_t before = m_end;
        if (m_superIndex.empty()) {
            if (appendBytes(legacyIndex()))
                m_hasIndexFlag = kAvifHasIndex;
            else
                ok = rollBack(before, m_lastError);
            m_segment.end = m_end;
        } else {
            const std::vector<uint8_t> ix = chunkIndex();
            if (appendBytes(ix)) {
                m_superIndex.push_back({before, uint32_t(ix.size()), uint32_t(m_index.size())});
                m_segment.moviEnd = m_segment.end = m_end;
            } else {
                ok = rollBack(before, m_lastError);
            }
        }
        ok = updateHeader() && ok;
        if (::fdatasync(m_fd) != 0) {
            m_lastError = errno;
            ok = false;
        }
    }
    if (::close(m_fd) != 0) {
        m_lastError = errno;
        ok = false;
    }
    m_fd = -1;
    m_closed = true;
    m_closeResult = ok;
    return ok;
}

bool AviWriter::appendBytes(std::span<const uint8_t> bytes) {
    const iovec iov{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    return appendv(&iov, 1);
}

bool AviWriter::appendv(const iovec* parts, int count) {
    iovec iov[3];
    count = std::min(count, 3);
    std::copy_n(parts, count, iov);
    iovec* next = iov;
    uint64_t offset = m_end;
    while (count > 0) {
        const ssize_t n = ::pwritev(m_fd, next, count, off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            return fail(EIO);
        offset += uint64_t(n);
        size_t left = size_t(n);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    m_end = offset;
    return true;
}

bool AviWriter::writeAt(uint64_t offset, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data(), bytes.size(), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : EIO);
        bytes = bytes.subspan(size_t(n));
        offset += uint64_t(n);
    }
    return true;
}

bool AviWriter::fail(int error) {
    // EINVAL is a caller's mistake (or a closed writer); anything else comes
    // from the file system and is worth a trail.
    if (error != EINVAL)
        qCWarning(lcAvi, "write failed at byte %llu: %s", static_cast<unsigned long long>(m_end),
                  std::strerror(error));
    m_lastError = error;
    return false;
}

bool AviWriter::rollBack(uint64_t end, int error) {
    // Cut off whatever part of the failed write reached the file, and make the
    // header describe exactly what remains.
    if (::ftruncate(m_fd, off_t(end)) == 0)
        m_end = end;
    if (m_headerWritten)
        updateHeader();
    m_lastError = error;
    return false;
}
