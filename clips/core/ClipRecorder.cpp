#include "clips/core/ClipRecorder.h"

#include "app/core/RegistryLayout.h"
#include "clips/core/ClipNames.h"
#include "clips/core/ClipWriterThread.h"
#include "platform/log/DialscopeLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using RegistryLayout::fitsRecordFolder;

namespace {

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

const std::string kNoText;

} // namespace

// Three sides share one clip: the recorder (UI thread), the writer's jobs
// (one at a time, in order) and the results the writer hands back (UI
// thread). Each field belongs to one side.
struct ClipRecorder::Clip {
    // Fixed when the clip starts.
    ClipIndex* index = nullptr;
    std::function<std::time_t()> clock;
    AviWriter::Options aviOptions;
    ClipWriterThread* writerThread = nullptr;
    std::function<std::string(const std::string&)> resolveFolder;
    int32_t channel = 0;
    std::tm start{};

    // Writer side.
    std::string fileFolder; // the record folder resolved, with a trailing "/"
    std::unique_ptr<AviWriter> writer;
    int imageFd = -1; // created with the clip, written at its first frame
    bool firstFramePending = true;
    bool opened = false; // files and headers made: the clip gets a record
    std::string fileVideoName;
    std::string fileImageName;
    ClipsInUse::Token inUse; // keeps clean-ups away from the clip while it is written

    // UI side.
    std::string folder;   // as asked for; the resolved one once the files exist
    bool stopped = false; // no more frames: Stop, a failed start or a full disk
    bool saved = false;
    std::string videoName; // once the writer made the files
    std::string imageName;
    std::tm end{};

    std::time_t now() const { return clock ? clock() : std::time(nullptr); }

    // Runs `result` on the UI side: through the writer thread when there is
    // one, at once otherwise.
    void report(std::function<void()> result) {
        if (writerThread)
            writerThread->deliver(std::move(result));
        else
            result();
    }

    // ---- writer side

    bool createFiles() {
        // Both files are created new, never through a symbolic link: a name
        // that is taken in any way (an earlier clip, a stray image file, a
        // link) moves the clip to the next suffix, and nothing in the folder
        // is replaced.
        const std::string stem = clipStampText(start) + channelText(channel);
        for (int suffix = 0; suffix < kMaxSuffix; ++suffix) {
            const std::string candidate = suffix == 0 ? stem : stem + "_" + std::to_string(suffix);
            const std::string imagePath = fileFolder + candidate + ".img";
            const int fd = ::open(imagePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                  AviWriter::kFileMode);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0) {
                qCWarning(lcClips, "cannot create %s: %s", imagePath.c_str(), std::strerror(errno));
                return false;
            }
            int error = 0;
            writer = AviWriter::create(fileFolder + candidate + ".avi", aviOptions, &error);
            if (!writer) {
                ::close(fd);
                ::unlink(imagePath.c_str());
                if (error == EEXIST)
                    continue;
                return false;
            }
            imageFd = fd;
            fileVideoName = candidate + ".avi";
            fileImageName = candidate + ".img";
            inUse = ClipsInUse::Token(fileFolder + fileVideoName);
            return true;
        }
        qCWarning(lcClips, "no free clip name for %s in %s", stem.c_str(), fileFolder.c_str());
        return false;
    }

    void discardFiles() {
        writer.reset();
        if (imageFd >= 0)
            ::close(imageFd);
        imageFd = -1;
        if (!fileVideoName.empty()) {
            ::unlink((fileFolder + fileVideoName).c_str());
            ::unlink((fileFolder + fileImageName).c_str());
        }
    }

    // `askedFolder` is the recorder's folder text; it is resolved here, on
    // the writer's side, since that may wait on the volume.
    bool open(const std::string& askedFolder, const AviStreamInfo& info, const std::vector<uint8_t>& format) {
        fileFolder = resolveFolder ? resolveFolder(askedFolder) : askedFolder;
        if (!fileFolder.empty() && fileFolder.back() != '/')
            fileFolder += '/';
        if (!fitsRecordFolder(fileFolder)) {
            qCWarning(lcClips, "record folder too long for the clip index (%zu bytes)", fileFolder.size());
            return false;
        }
        if (!createFiles() || !writer->createStream(info)) {
            discardFiles();
            return false;
        }
        if (!writer->setFormat(format)) {
            // The headers did not reach the disk (full disk, quota, file-size
            // limit): the same as a failed start, with no file left behind.
            qCWarning(lcClips, "cannot start %s%s: %s", fileFolder.c_str(), fileVideoName.c_str(),
                      std::strerror(writer->lastError()));
            discardFiles();
            return false;
        }
        opened = true;
        return true;
    }

    void writeImage(std::span<const uint8_t> frame) {
        if (imageFd < 0)
            return;
        const bool written = writeAll(imageFd, frame);
        const int writeError = errno;
        const bool closed = ::close(imageFd) == 0;
        imageFd = -1;
        // A partly written image file would give the browser a broken
        // preview; without the file the clip simply has none.
        if (!closed || !written) {
            qCWarning(lcClips, "cannot write %s%s: %s", fileFolder.c_str(), fileImageName.c_str(),
                      std::strerror(written ? errno : writeError));
            ::unlink((fileFolder + fileImageName).c_str());
        }
    }

    // False when the disk took the frame no more; the files are complete then.
    bool write(std::span<const uint8_t> frame) {
        if (!writer)
            return true; // completed already
        const PackedDibView dib(frame);
        if (firstFramePending) {
            firstFramePending = false;
            writeImage(dib.whole());
        }
        if (writer->write(dib.image(), true))
            return true;
        // The disk is full or the file may grow no further: the clip keeps
        // every frame written so far and is completed now.
        qCWarning(lcClips, "recording %s%s stopped after %lld frames: %s", fileFolder.c_str(),
                  fileVideoName.c_str(), static_cast<long long>(writer->samplesWritten()),
                  std::strerror(writer->lastError()));
        complete();
        return false;
    }

    void complete() {
        if (writer && !writer->close())
            qCWarning(lcClips, "completing %s%s: %s", fileFolder.c_str(), fileVideoName.c_str(),
                      std::strerror(writer->lastError()));
        writer.reset();
        if (imageFd >= 0) {
            // No frame came: the empty image file made to hold the name goes.
            ::close(imageFd);
            imageFd = -1;
            ::unlink((fileFolder + fileImageName).c_str());
        }
    }

    // ---- UI side

    void stop() {
        if (stopped)
            return;
        stopped = true;
        end = localTime(now());
    }

    void saveRecord() {
        if (saved || videoName.empty())
            return;
        saved = true;
        ClipRecord record;
        record.FileName = videoName;
        record.Open = 0;
        record.Channel = channel;
        record.SDate = clipDateText(start);
        record.STime = clipTimeText(start);
        record.EDate = clipDateText(end);
        record.ETime = clipTimeText(end);
        record.ImageName = imageName;
        record.Path = folder;
        if (!index->SaveClipRecord(record))
            qCWarning(lcClips, "the clip index refused %s%s", folder.c_str(), videoName.c_str());
    }
};

ClipRecorder::ClipRecorder(ClipIndex& index, Environment environment)
    : m_index(index)
    , m_env(std::move(environment)) {}

ClipRecorder::~ClipRecorder() {
    StopRecording();
}

std::time_t ClipRecorder::now() const {
    return m_env.clock ? m_env.clock() : std::time(nullptr);
}

bool ClipRecorder::recording() const {
    return m_clip && !m_clip->stopped;
}

const std::string& ClipRecorder::recordFolder() const {
    return m_clip ? m_clip->folder : kNoText;
}

const std::string& ClipRecorder::videoFileName() const {
    return m_clip ? m_clip->videoName : kNoText;
}

const std::string& ClipRecorder::imageFileName() const {
    return m_clip ? m_clip->imageName : kNoText;
}

bool ClipRecorder::run(std::function<void()> job, size_t bytes, bool mustRun) {
    if (m_env.writer)
        return m_env.writer->post(std::move(job), bytes, mustRun);
    job();
    return true;
}

bool ClipRecorder::StartRecording(int32_t channel, const BitmapInfoHeader& streamFormat,
                                  std::span<const uint8_t> colorTable) {
    StopRecording();
    m_written = 0;

    auto clip = std::make_shared<Clip>();
    clip->index = &m_index;
    clip->clock = m_env.clock;
    clip->aviOptions = m_env.aviOptions;
    clip->writerThread = m_env.writer.get();
    clip->resolveFolder = m_env.resolveFolder;
    clip->channel = channel;
    clip->start = localTime(now());
    clip->folder = m_env.recordPath ? m_env.recordPath() : std::string();
    if (!clip->folder.empty() && clip->folder.back() != '/')
        clip->folder += '/';
    // The index could not give a longer folder back whole: nothing is written
    // rather than a clip the browser can neither play nor delete.
    if (!fitsRecordFolder(clip->folder)) {
        qCWarning(lcClips, "record folder too long for the clip index (%zu bytes)", clip->folder.size());
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

    m_clip = clip;
    run(
        [clip, folder = clip->folder, info = AviStreamInfo::forClip(streamFormat),
         formatBytes = std::move(formatBytes)] {
            if (!clip->open(folder, info, formatBytes)) {
                clip->report([clip] { clip->stopped = true; });
                return;
            }
            clip->report([clip, resolved = clip->fileFolder, video = clip->fileVideoName,
                          image = clip->fileImageName] {
                clip->folder = resolved;
                clip->videoName = video;
                clip->imageName = image;
                // Stopped before the files were there: the record is due now.
                if (clip->stopped)
                    clip->saveRecord();
            });
        },
        0, true);
    if (!recording()) {
        m_clip.reset();
        return false;
    }
    return true;
}

void ClipRecorder::RecordFrame(std::span<const uint8_t> frame) {
    if (!recording() || frame.empty())
        return;
    const PackedDibView dib(frame);
    if (!dib.valid())
        return;
    const std::shared_ptr<Clip> clip = m_clip;
    // A copy goes to the writer: the caller's buffer is reused at once.
    std::vector<uint8_t> bytes(dib.whole().begin(), dib.whole().end());
    const size_t size = bytes.size();
    const bool queued = run(
        [clip, bytes = std::move(bytes)] {
            if (clip->write(bytes))
                return;
            clip->report([clip] {
                clip->stop();
                clip->saveRecord();
            });
        },
        size, false);
    if (queued && !clip->stopped)
        ++m_written;
}

bool ClipRecorder::recordCommand(int32_t channel, const BitmapInfoHeader& streamFormat,
                                 std::span<const uint8_t> frameBuffer) {
    if (recording())
        return false;
    if (!StartRecording(channel, streamFormat))
        return false;
    const auto header = BitmapInfoHeader::parse(frameBuffer);
    if (header && header->biSize == BitmapInfoHeader::kSize)
        RecordFrame(frameBuffer);
    return true;
}

void ClipRecorder::flushIfDue() {
    if (!recording())
        return;
    run(
        [clip = m_clip] {
            if (clip->writer)
                clip->writer->flushIfDue();
        },
        0, false);
}

void ClipRecorder::StopRecording() {
    if (!m_clip)
        return;
    const std::shared_ptr<Clip> clip = std::move(m_clip);
    clip->stop();
    run(
        [clip] {
            const bool opened = clip->opened;
            clip->complete();
            if (opened)
                clip->report([clip] { clip->saveRecord(); });
        },
        0, true);
}
