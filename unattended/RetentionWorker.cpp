#include "unattended/RetentionWorker.h"

#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipsInUse.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"
#include "unattended/RetentionPlanner.h"

#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRetention, "dialscope.retention")

namespace {

constexpr std::time_t kAgePassPace = 3600;

uint64_t cutoffKey(std::time_t now, int32_t days) {
    if (days <= 0)
        return 0;
    const std::time_t then = now - std::time_t(days) * 86400;
    std::tm local{};
    if (!localtime_r(&then, &local))
        return 0;
    return ((((uint64_t(local.tm_year) + 1900) * 100 + uint64_t(local.tm_mon) + 1) * 100 +
             uint64_t(local.tm_mday)) *
                100 +
            uint64_t(local.tm_hour)) *
               100 +
           uint64_t(local.tm_min);
}

// Removes a file; a file already gone counts as removed.
bool removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    qCWarning(lcRetention) << "cannot delete" << path.c_str() << ":" << std::strerror(errno);
    return false;
}

} // namespace

std::optional<uint64_t> RetentionWorker::volumeFreeBytes(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    return uint64_t(info.f_bavail) * uint64_t(info.f_frsize);
}

RetentionWorker::RetentionWorker(FreeSpace freeSpace)
    : m_freeSpace(std::move(freeSpace)) {}

RetentionWorker::~RetentionWorker() {
    m_abort = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool RetentionWorker::Start(RetentionRequest request, std::function<void(const RetentionResult&)> done) {
    if (m_running)
        return false;
    if (m_thread.joinable())
        m_thread.join(); // finished: it only has to be reaped
    m_running = true;
    m_thread = std::thread([this, request = std::move(request), done = std::move(done)]() mutable {
        if (request.resolveFolder)
            request.recordFolder = request.resolveFolder(request.recordFolder);
        RetentionResult result = runPass(request);
        if (done) {
            QMetaObject::invokeMethod(
                &m_context, [done, result = std::move(result)] { done(result); }, Qt::QueuedConnection);
        }
        m_running = false;
    });
    return true;
}

RetentionResult RetentionWorker::runPass(const RetentionRequest& request) {
    RetentionResult result;
    const std::optional<uint64_t> free = m_freeSpace(request.recordFolder);
    const bool spaceShort =
        request.freeSpaceRule && free && request.limitBytes != 0 && *free < request.limitBytes;
    const bool ageDue =
        request.maxAgeDays > 0 &&
        (request.forceFullPass || request.now - m_lastAgePass >= kAgePassPace || request.now < m_lastAgePass);
    if (!spaceShort && !ageDue)
        return result;
    if (request.freeSpaceRule && !free)
        qCWarning(lcRetention) << "free space of" << request.recordFolder.c_str() << "unknown";
    if (ageDue)
        m_lastAgePass = request.now;
    result.fullPass = true;

    RegistryStore store(request.storePath);
    ChannelTable channels;
    ClipIndex index(store, channels);
    std::vector<ClipRecord> records;
    index.LoadClipRecords(records);

    struct stat recordInfo {};
    const bool recordKnown = ::stat(request.recordFolder.c_str(), &recordInfo) == 0;
    std::map<std::string, bool> readable; // per folder
    std::vector<RetentionClip> clips;
    clips.reserve(records.size());
    for (const ClipRecord& record : records) {
        if (m_abort)
            return result;
        RetentionClip clip;
        clip.fileName = record.FileName;
        clip.imageName = record.ImageName;
        clip.folder = record.Path;
        clip.sDate = record.SDate;
        clip.sTime = record.STime;
        auto [it, added] = readable.try_emplace(record.Path, false);
        if (added) {
            struct stat info {};
            it->second = !record.Path.empty() && ::stat(record.Path.c_str(), &info) == 0 &&
                         S_ISDIR(info.st_mode) && ::access(record.Path.c_str(), R_OK | X_OK) == 0;
        }
        clip.folderReadable = it->second;
        struct stat video {};
        clip.videoExists = !clip.folderReadable ||
                           ::stat((record.Path + record.FileName).c_str(), &video) == 0 || errno != ENOENT;
        if (clip.folderReadable && clip.videoExists) {
            clip.bytes = uint64_t(video.st_size);
            clip.onRecordVolume = recordKnown && video.st_dev == recordInfo.st_dev;
            struct stat image {};
            if (!record.ImageName.empty() && ::stat((record.Path + record.ImageName).c_str(), &image) == 0)
                clip.bytes += uint64_t(image.st_size);
        }
        clips.push_back(std::move(clip));
    }

    RetentionPolicy policy;
    policy.freeSpaceRule = request.freeSpaceRule;
    policy.limitBytes = request.limitBytes;
    policy.freeBytes = free.value_or(0);
    policy.ageCutoffKey = cutoffKey(request.now, request.maxAgeDays);
    const auto inUse = [](const RetentionClip& clip) {
        return ClipsInUse::contains(clip.folder + clip.fileName);
    };
    // Clips in unreadable folders stay out of the plan altogether.
    std::vector<RetentionClip> reachable;
    for (RetentionClip& clip : clips) {
        if (clip.folderReadable)
            reachable.push_back(std::move(clip));
    }
    const RetentionPlan plan = planRetention(reachable, policy, inUse);

    for (size_t i : plan.dropEntries) {
        if (m_abort)
            return result;
        const RetentionClip& clip = reachable[i];
        struct stat info {};
        if (::stat((clip.folder + clip.fileName).c_str(), &info) == 0 || errno != ENOENT)
            continue; // it came back, or the folder went away meanwhile
        if (index.DeleteClipRecord(clip.fileName)) {
            ++result.entriesDropped;
            qCInfo(lcRetention) << "dropped the index entry of vanished clip"
                                << (clip.folder + clip.fileName).c_str();
        }
    }
    for (size_t i : plan.deleteClips) {
        if (m_abort)
            return result;
        const RetentionClip& clip = reachable[i];
        const std::string video = clip.folder + clip.fileName;
        if (ClipsInUse::contains(video))
            continue;
        if (!removeFile(video))
            continue;
        if (!clip.imageName.empty())
            removeFile(clip.folder + clip.imageName);
        if (!index.DeleteClipRecord(clip.fileName))
            qCWarning(lcRetention) << "cannot remove the index entry of" << video.c_str();
        qCInfo(lcRetention).noquote()
            << loadString(IDS_RETENTION_DELETED).arg(QString::fromStdString(video)).arg(clip.bytes);
        result.deleted.emplace_back(video, clip.bytes);
    }

    const uint64_t cutoff = cutoffKey(request.now, request.maxAgeDays);
    if (cutoff != 0) {
        namespace fs = std::filesystem;
        const fs::path patrol = fs::path(request.recordFolder) / "patrol";
        std::error_code error;
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(patrol, error)) {
            if (entry.is_directory(error))
                names.push_back(entry.path().filename().string());
        }
        for (const std::string& name : planPatrolFolders(names, cutoff)) {
            if (m_abort)
                return result;
            std::error_code removeError;
            fs::remove_all(patrol / name, removeError);
            if (removeError)
                qCWarning(lcRetention) << "cannot delete patrol pictures" << (patrol / name).c_str() << ":"
                                       << removeError.message().c_str();
            else {
                ++result.patrolFoldersRemoved;
                qCInfo(lcRetention) << "deleted patrol pictures" << (patrol / name).c_str();
            }
        }
    }
    return result;
}
