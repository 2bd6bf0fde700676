#pragma once

// Clip retention's file work, on a thread of its own: one pass at a time,
// started from the disk-check timer.
//
// How it works: a pass first asks the free space of the record folder's
// volume. It goes on only when the free-space rule is on and space is below
// the warning limit, or when the age rule is on and its last full pass is an
// hour old. It then reads the clip index through its own store connection,
// looks at every clip's files and folder, lets the planner choose, and
// deletes: a clip's video and image files first, then its index entry (a
// pass cut short leaves entries whose video is gone, which the next pass
// removes). Before each deletion it asks again whether the clip is in use.
// Patrol picture folders older than the age limit go too. Every deletion is
// logged with its name and size.
//
// The owner's thread only starts passes and reads the result, which arrives
// by a queued call; destroying the worker stops a running pass between two
// deletions and waits for it.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct RetentionRequest {
    std::string storePath;    // the per-user store file holding the clip index
    std::string recordFolder; // ends with "/"
    // What recordFolder's text stands for on disk; called on the worker
    // thread (it may wait on the volume). recordFolder as it is when empty.
    std::function<std::string(const std::string&)> resolveFolder;
    bool freeSpaceRule = false;
    uint64_t limitBytes = 0; // the disk warning limit
    int32_t maxAgeDays = 0;  // 0: no age limit
    std::time_t now = 0;
    bool forceFullPass = false; // the age rule's hourly pace does not apply
};

struct RetentionResult {
    bool fullPass = false;                                 // the index was read and a plan carried out
    std::vector<std::pair<std::string, uint64_t>> deleted; // video file paths and bytes freed
    size_t entriesDropped = 0;
    size_t patrolFoldersRemoved = 0;
};

class RetentionWorker {
public:
    // Free bytes for an unprivileged user on the volume of a folder; nothing
    // when it cannot be asked.
    using FreeSpace = std::function<std::optional<uint64_t>(const std::string& folder)>;
    static std::optional<uint64_t> volumeFreeBytes(const std::string& folder);

    explicit RetentionWorker(FreeSpace freeSpace = volumeFreeBytes);
    ~RetentionWorker();
    RetentionWorker(const RetentionWorker&) = delete;
    RetentionWorker& operator=(const RetentionWorker&) = delete;

    // Starts a pass unless one runs; `done` runs on the caller's thread.
    bool Start(RetentionRequest request, std::function<void(const RetentionResult&)> done = {});
    bool running() const { return m_running; }

    // One pass on the calling thread (the thread runs exactly this).
    RetentionResult runPass(const RetentionRequest& request);

private:
    FreeSpace m_freeSpace;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_abort{false};
    std::time_t m_lastAgePass = 0;
    QObject m_context; // the queued result dies with it
};
