#include "ClipRecorder.h"

#include "ClipNames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Writes all of `bytes`; false on any failure.
bool writeAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(size_t(n));
    }
    return true;
}

// Names are made unique with a numbered suffix; this many tries within one
// second of one channel is far more than any operator can click.
constexpr int kMaxSuffix = 1000;

} // namespace

ClipRecorder::ClipRecorder(ClipIndex& index, Environment environment)
    : m_index(index)
    , m_env(std::move(environment)) {}

ClipRecorder::~ClipRecorder() {
    StopRecording();
}

std::time_t ClipRecorder::now() const {
    return m_env.clock ? m_env.clock() : std::time(nullptr);
}

bool ClipRecorder::pickNames(int32_t channel, const std::tm& start) {
    const std::string stem = ClipStampText(start) + ChannelText(channel);
    for (int suffix = 0; suffix < kMaxSuffix; ++suffix) {
        const std::string candidate = suffix == 0 ? stem : stem + "_" + std::to_string(suffix);
        if (!exists(m_folder + candidate + ".avi") && !exists(m_folder + candidate + ".img")) {
            m_videoName = candidate + ".avi";
            m_imageName = candidate + ".img";
            return true;
        }
    }
    return false;
}

bool ClipRecorder::StartRecording(int32_t channel, const BitmapInfoHeader& streamFormat,
                                  std::span<const uint8_t> colorTable) {
    StopRecording();

    const std::tm start = LocalTime(now());
    m_channel = channel;
    m_folder = m_env.recordPath ? m_env.recordPath() : std::string();
    if (!m_folder.empty() && m_folder.back() != '/')
        m_folder += '/';
    m_startDate = ClipDateText(start);
    m_startTime = ClipTimeText(start);
    m_written = 0;

    if (pickNames(channel, start))
        m_writer = AviWriter::create(m_folder + m_videoName, m_env.aviOptions);
    if (!m_writer || !m_writer->createStream(AviStreamInfo::forClip(streamFormat))) {
        // Not recording, so no record is written; a file already created is
        // removed, since no clip will ever name it.
        const bool created = m_writer != nullptr;
        m_writer.reset();
        if (created)
            ::unlink((m_folder + m_videoName).c_str());
        StopRecording();
        return false;
    }

    // The format is the stream's header, with its colour table when the
    // caller holds one; otherwise a header that declares none, so no reader
    // looks for a table that is not there.
    BitmapInfoHeader format = streamFormat;
    format.biSize = BitmapInfoHeader::kSize;
    const bool withTable = colorTable.size() == format.colorTableBytes() && !colorTable.empty();
    if (!withTable)
        format.biClrUsed = 0;
    std::vector<uint8_t> formatBytes(BitmapInfoHeader::kSize);
    format.write(formatBytes.data());
    if (withTable)
        formatBytes.insert(formatBytes.end(), colorTable.begin(), colorTable.end());
    m_writer->setFormat(formatBytes);

    m_recording = true;
    m_firstFramePending = true;
    m_inUse = ClipsInUse::Token(m_folder + m_videoName);
    return true;
}

void ClipRecorder::writeImageFile(std::span<const uint8_t> frame) {
    const std::string path = m_folder + m_imageName;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const bool written = writeAll(fd, frame);
    // A partly written image file would give the browser a broken preview;
    // without the file the clip simply has none.
    if (::close(fd) != 0 || !written)
        ::unlink(path.c_str());
}

void ClipRecorder::RecordFrame(std::span<const uint8_t> frame) {
    if (!m_recording || frame.empty())
        return;
    const PackedDibView dib(frame);
    if (!dib.valid())
        return;
    if (m_firstFramePending) {
        m_firstFramePending = false;
        writeImageFile(dib.whole());
    }
    m_writer->write(dib.image(), true);
    ++m_written;
}

bool ClipRecorder::RecordCommand(int32_t channel, const BitmapInfoHeader& streamFormat,
                                 std::span<const uint8_t> frameBuffer) {
    if (m_recording)
        return false;
    if (!StartRecording(channel, streamFormat))
        return false;
    const auto header = BitmapInfoHeader::parse(frameBuffer);
    if (header && header->biSize == BitmapInfoHeader::kSize)
        RecordFrame(frameBuffer);
    return true;
}

void ClipRecorder::flushIfDue() {
    if (m_writer)
        m_writer->flushIfDue();
}

void ClipRecorder::StopRecording() {
    if (m_writer)
        m_writer->close();
    if (m_recording) {
        const std::tm end = LocalTime(now());
        ClipRecord record;
        record.FileName = m_videoName;
        record.Open = 0;
        record.Channel = m_channel;
        record.SDate = m_startDate;
        record.STime = m_startTime;
        record.EDate = ClipDateText(end);
        record.ETime = ClipTimeText(end);
        record.ImageName = m_imageName;
        record.Path = m_folder;
        m_index.SaveClipRecord(record);
    }
    m_writer.reset();
    m_recording = false;
    m_inUse = ClipsInUse::Token();
    m_firstFramePending = false;
    m_folder.clear();
    m_videoName.clear();
    m_imageName.clear();
    m_startDate.clear();
    m_startTime.clear();
}
