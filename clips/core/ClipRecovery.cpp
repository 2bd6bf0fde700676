#include "clips/core/ClipRecovery.h"

#include "clips/core/ClipNames.h"
#include "platform/log/DialscopeLog.h"
#include "platform/registry/RegistryStore.h"

#include <QObject>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kStampDigits = 14;
constexpr size_t kMinChannelDigits = 4;
constexpr size_t kMaxChannelDigits = 10;
constexpr int kFramesPerSecond = 2;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int number(const std::string& text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value * 10 + (text[at + i] - '0');
    return value;
}

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool readAt(int fd, uint64_t offset, uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool tagIs(const uint8_t* p, const char (&tag)[5]) {
    return std::equal(p, p + 4, tag);
}

} // namespace

std::optional<ClipFileName> parseClipFileName(const std::string& name) {
    constexpr std::string_view kExt = ".avi";
    if (name.size() < kStampDigits + kMinChannelDigits + kExt.size() ||
        name.compare(name.size() - kExt.size(), kExt.size(), kExt) != 0)
        return std::nullopt;
    const size_t stemEnd = name.size() - kExt.size();
    size_t pos = 0;
    while (pos < stemEnd && isDigit(name[pos]))
        ++pos;
    const size_t channelDigits = pos - std::min(pos, kStampDigits);
    if (pos < kStampDigits + kMinChannelDigits || channelDigits > kMaxChannelDigits)
        return std::nullopt;
    if (pos != stemEnd) {
        // "_n": the suffix of a name that was taken.
        if (name[pos] != '_' || pos + 1 == stemEnd)
            return std::nullopt;
        for (size_t i = pos + 1; i < stemEnd; ++i)
            if (!isDigit(name[i]))
                return std::nullopt;
    }
    const int64_t channel = [&] {
        int64_t value = 0;
        for (size_t i = kStampDigits; i < pos; ++i)
            value = value * 10 + (name[i] - '0');
        return value;
    }();
    if (channel > INT32_MAX)
        return std::nullopt;

    ClipFileName parsed;
    std::tm& t = parsed.start;
    t.tm_year = number(name, 0, 4) - 1900;
    t.tm_mon = number(name, 4, 2) - 1;
    t.tm_mday = number(name, 6, 2);
    t.tm_hour = number(name, 8, 2);
    t.tm_min = number(name, 10, 2);
    t.tm_sec = number(name, 12, 2);
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 60)
        return std::nullopt;
    t.tm_isdst = -1;
    parsed.channel = int32_t(channel);
    return parsed;
}

std::optional<int64_t> countAviFrames(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    const std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
        ::close(*f);
        delete f;
    });
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const uint64_t size = uint64_t(st.st_size);
    uint8_t head[12];
    if (size < 12 || !readAt(fd, 0, head, 12) || !tagIs(head, "RIFF") || !tagIs(head + 8, "AVI "))
        return std::nullopt;

    // A flat walk over the chunks: RIFF segments and "movi" lists are
    // entered, everything else is stepped over. List sizes are not trusted
    // for the end of the samples, since a killed recording wrote samples
    // past the sizes last synced.
    int64_t frames = 0;
    uint64_t pos = 12;
    while (pos + 8 <= size) {
        uint8_t chunk[12];
        if (!readAt(fd, pos, chunk, 8))
            break;
        const uint32_t length = le32(chunk + 4);
        if ((tagIs(chunk, "RIFF") || tagIs(chunk, "LIST")) && pos + 12 <= size) {
            if (!readAt(fd, pos + 8, chunk + 8, 4))
                break;
            if (tagIs(chunk + 8, "movi") || tagIs(chunk + 8, "AVIX")) {
                pos += 12;
                continue;
            }
        }
        const uint64_t next = pos + 8 + length + (length & 1);
        if (isDigit(char(chunk[0])) && isDigit(char(chunk[1])) && chunk[2] == 'd' &&
            (chunk[3] == 'b' || chunk[3] == 'c')) {
            if (pos + 8 + length > size)
                break; // the frame being written when the program stopped
            ++frames;
        }
        pos = next;
    }
    return frames;
}

std::optional<ClipRecord> recoverClipRecord(const std::string& folder, const std::string& fileName) {
    const auto parsed = parseClipFileName(fileName);
    if (!parsed)
        return std::nullopt;
    const auto frames = countAviFrames(folder + fileName);
    if (!frames)
        return std::nullopt;
    std::tm start = parsed->start;
    const std::time_t startTime = std::mktime(&start);
    if (startTime == std::time_t(-1))
        return std::nullopt;
    const std::tm end = localTime(startTime + std::time_t(*frames / kFramesPerSecond));

    ClipRecord record;
    record.FileName = fileName;
    record.Open = 0;
    record.Channel = parsed->channel;
    record.SDate = clipDateText(start);
    record.STime = clipTimeText(start);
    record.EDate = clipDateText(end);
    record.ETime = clipTimeText(end);
    record.ImageName = imageNameFor(fileName);
    record.Path = folder;
    return record;
}

std::vector<ClipRecord> findUnindexedClips(const std::string& folderIn, const std::set<std::string>& indexed,
                                           const std::atomic<bool>* abort) {
    std::string folder = folderIn;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    std::vector<ClipRecord> found;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return found;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (abort && abort->load())
            return found;
        std::string name = entry->d_name;
        if (!indexed.count(name) && parseClipFileName(name))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (abort && abort->load())
            break;
        if (auto record = recoverClipRecord(folder, name))
            found.push_back(std::move(*record));
    }
    return found;
}

ClipRecoveryTask::ClipRecoveryTask(ClipIndex& index, std::string folder,
                                   std::function<std::string(const std::string&)> resolve)
    : m_index(index)
    , m_receiver(std::make_unique<QObject>()) {
    QObject* receiver = m_receiver.get();
    // The names already indexed are read here too, on a connection of the
    // worker's own: with a large index that read takes seconds, which the
    // window's thread must not spend.
    m_thread = std::thread([this, receiver, folder = std::move(folder), resolve = std::move(resolve),
                            storePath = m_index.storeFilePath()] {
        std::set<std::string> indexed;
        {
            RegistryStore own(storePath);
            struct Stopped {};
            try {
                // Leaving the read by an exception is safe: the store's
                // statement is reset on the way out.
                ClipIndex::forEachClipRecord(own, [this, &indexed](ClipRecord& record) {
                    if (m_abort.load(std::memory_order_relaxed))
                        throw Stopped{};
                    indexed.insert(std::move(record.FileName));
                });
            } catch (const Stopped&) {
                return;
            }
        }
        const std::string searched = resolve ? resolve(folder) : folder;
        std::vector<ClipRecord> found = findUnindexedClips(searched, indexed, &m_abort);
        if (m_abort)
            return;
        // The receiver lives on the calling thread; should the task be gone
        // by the time the call is due, the call is dropped with it.
        QMetaObject::invokeMethod(
            receiver, [this, found = std::move(found)]() mutable { save(std::move(found)); },
            Qt::QueuedConnection);
    });
}

ClipRecoveryTask::~ClipRecoveryTask() {
    m_abort = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ClipRecoveryTask::save(std::vector<ClipRecord> records) {
    for (ClipRecord& record : records) {
        if (m_index.SaveClipRecord(record)) {
            ++m_saved;
            qCWarning(lcClips,
                      "recovered clip %s%s (channel %d, %s %s to %s %s) left by an interrupted recording",
                      record.Path.c_str(), record.FileName.c_str(), int(record.Channel), record.SDate.c_str(),
                      record.STime.c_str(), record.EDate.c_str(), record.ETime.c_str());
        } else {
            qCWarning(lcClips, "the clip index refused recovered clip %s%s", record.Path.c_str(),
                      record.FileName.c_str());
        }
    }
    m_done = true;
}
