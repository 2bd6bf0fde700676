#pragma once

// Writes an AVI file with one video stream, sample by sample, in the layout
// that every AVI reader knows: RIFF "AVI " with the header list "hdrl" (main
// header, one stream list with "strh" and "strf"), the sample list "movi" and
// the legacy index "idx1". Once the file passes the segment limit (1 GiB) it
// continues in OpenDML form: further RIFF "AVIX" segments, each with its own
// "movi" list and "ix00" chunk index, found through the "indx" super index in
// the stream list; so a recording of any length stays valid.
//
// Each sample is appended with one gathered write straight from the caller's
// bytes (no copy, no decoding). The index lives in memory and is written when a
// segment ends or the file is closed. So that a killed process or a power cut
// loses at most the last few seconds, the header's sizes and frame counts are
// rewritten in place and the file is synced to disk at least every
// `syncInterval` while samples arrive (see flushIfDue()); a reader then sees every sample up to
// that point even without an index.
//
// A failed write (full disk, file-size limit, removed medium) is returned as
// false with the errno kept in lastError(); the partial chunk is cut off again
// and the header brought up to date, so the file stays readable up to the last
// good sample. Nothing throws. Not thread-safe: one thread uses a writer.

#include "platform/dib/PackedDib.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <sys/uio.h>
#include <vector>

// The stream header of a video stream, as the AVI "strh" chunk holds it.
struct AviStreamInfo {
    uint32_t fccType = makeFourCC('v', 'i', 'd', 's');
    uint32_t fccHandler = 0;
    uint32_t dwFlags = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwScale = 1;
    uint32_t dwRate = 0; // samples per second = dwRate / dwScale
    uint32_t dwStart = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = 0;
    uint32_t dwSampleSize = 0;
    int16_t rcLeft = 0;
    int16_t rcTop = 0;
    int16_t rcRight = 0;
    int16_t rcBottom = 0;

    // The stream of a recorded clip: handler = the frames' biCompression, two
    // frames per second, buffer size = biSizeImage, frame rectangle
    // (0, 0, biWidth, biHeight), every other field zero.
    static AviStreamInfo forClip(const BitmapInfoHeader& format);
};

class AviWriter {
public:
    struct Options {
        // Longest time between two on-disk updates of sizes and counts.
        std::chrono::milliseconds syncInterval{2000};
        // A RIFF segment is closed once the next sample would take it past this.
        uint64_t segmentLimit = uint64_t{1} << 30;
        // The time that syncInterval is measured in; steady_clock when empty.
        std::function<std::chrono::steady_clock::time_point()> clock;
    };

    static constexpr uint32_t kMaxSampleSize = 1u << 30;
    // Number of segments the super index has room for (256 GiB of samples).
    static constexpr uint32_t kMaxSegments = 256;

    // Clips and snapshots are surveillance footage: group-readable for an
    // operators' group, never world-readable.
    static constexpr unsigned kFileMode = 0640;

    // Creates a new file (mode kFileMode); a name that is taken already, even
    // by a symbolic link, is refused with EEXIST, so nothing is ever replaced.
    // Nothing when it cannot be created; errnoOut (if given) then holds the
    // reason.
    static std::unique_ptr<AviWriter> create(const std::string& path, Options options,
                                             int* errnoOut = nullptr);
    static std::unique_ptr<AviWriter> create(const std::string& path) { return create(path, Options{}); }

    // Completes the file like close() when it was not closed yet.
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Declares the one video stream. False when a stream exists already or the
    // info is unusable (fccType not "vids", zero scale or rate).
    bool createStream(const AviStreamInfo& info);
    // Sets the stream format ("strf": the BITMAPINFOHEADER and any colour table)
    // and lays down the file's headers. Only before the first sample.
    bool setFormat(std::span<const uint8_t> format);
    // Appends one sample. False when nothing could be appended; the file then
    // still holds every earlier sample.
    bool write(std::span<const uint8_t> sample, bool keyFrame = true);
    // Brings sizes and counts on disk up to date and syncs the file.
    bool flush();
    // flush() when samples arrived since the last update and syncInterval has
    // passed; write() does this itself. A recording calls it from a timer as
    // well, so that the last samples before a pause in the stream reach the
    // disk in time. False only when a flush failed.
    bool flushIfDue();
    // Writes the index, final sizes and counts, syncs and closes the file. The
    // writer accepts nothing afterwards. False when any of it failed; the
    // samples written are still readable.
    bool close();

    int64_t samplesWritten() const { return m_totalSamples; }
    // Size of the file as written so far.
    uint64_t fileSize() const { return m_end; }
    // RIFF segments begun so far (1 for a plain AVI file).
    uint32_t segmentCount() const { return m_segments; }
    // errno of the last failure, 0 when none.
    int lastError() const { return m_lastError; }

private:
    struct IndexEntry {
        uint64_t chunkOffset; // absolute offset of the chunk's fourcc
        uint32_t size;
        bool keyFrame;
    };
    struct SuperIndexEntry {
        uint64_t offset; // absolute offset of the segment's "ix00" chunk
        uint32_t size;
        uint32_t duration;
    };

    // Byte offsets of one RIFF segment: its "RIFF" tag, its "LIST" movi tag,
    // the end of the movi list and the end of the segment.
    struct Segment {
        uint64_t start = 0;
        uint64_t moviStart = 0;
        uint64_t moviEnd = 0;
        uint64_t end = 0;
    };

    AviWriter(int fd, Options options);

    bool writeHeader();
    bool startNextSegment();
    std::vector<uint8_t> chunkIndex() const;
    std::vector<uint8_t> legacyIndex() const;
    bool writeSegmentSizes(const Segment& segment);
    bool updateHeader();
    bool appendBytes(std::span<const uint8_t> bytes);
    bool appendv(const iovec* parts, int count);
    bool writeAt(uint64_t offset, std::span<const uint8_t> bytes);
    bool fail(int error);
    bool rollBack(uint64_t end, int error);

    int m_fd = -1;
    Options m_options;
    bool m_streamCreated = false;
    bool m_headerWritten = false;
    bool m_closed = false;
    AviStreamInfo m_info;
    std::vector<uint8_t> m_format;
    uint32_t m_chunkId = 0;

    // Everything in front of the first sample, kept so that updates rewrite it
    // with a single write.
    std::vector<uint8_t> m_header;
    uint32_t m_superIndexOffset = 0; // of the "JUNK"/"indx" chunk in m_header
    uint32_t m_odmlOffset = 0;       // of the "JUNK"/"LIST" odml chunk in m_header
    uint32_t m_hasIndexFlag = 0;

    uint64_t m_end = 0;              // file size written so far
    Segment m_segment;               // the segment samples go to
    Segment m_firstSegment;          // once a second segment has begun
    std::vector<IndexEntry> m_index; // samples of the current segment
    std::vector<SuperIndexEntry> m_superIndex;
    int64_t m_totalSamples = 0;
    uint32_t m_segments = 0;
    uint32_t m_firstSegmentSamples = 0;
    uint32_t m_largestSample = 0;

    std::chrono::steady_clock::time_point m_lastSync;
    bool m_dirty = false;
    bool m_syncFailed = false;
    bool m_closeResult = false;
    int m_lastError = 0;
};
