#pragma once

// Finds clips that a crash or power cut left without an index entry, so the
// browser lists them again.
//
// How it works: a recording writes its entry only when it stops; a killed
// program leaves a playable video file (sizes are synced while recording)
// but no entry. At start-up a worker lists the record folder, keeps the
// names this program gives its clips ("<14-digit stamp><channel, 4 digits or
// more>[_n].avi") that no entry names yet, and reads each file's chunk
// headers (never its pictures) to count the frames that reached the disk.
// The entry then gets start = the name's stamp, end = start + frames at two
// frames per second, the channel from the name, "Open" = 0 (unread) and the
// matching image file name.
//
// Files are untrusted: every read is bounded by the file's size, a file that
// does not begin like an AVI file is skipped, and a cut-off last frame is not
// counted. Pure file work without the store, so it runs on any thread; the
// caller saves the entries on the store's thread.

#include "clips/core/ClipIndex.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Parts of a clip file name this program made: nothing for any other name.
struct ClipFileName {
    std::tm start{}; // local time of the stamp
    int32_t channel = 0;
};
std::optional<ClipFileName> parseClipFileName(const std::string& fileName);

// Frames ("##db"/"##dc" chunks whose data is complete) in an AVI file;
// nothing when the file cannot be read or is not an AVI file.
std::optional<int64_t> countAviFrames(const std::string& path);

// The entry for one unindexed clip file in `folder` (ending with "/"), or
// nothing when the name or the file is not a clip of ours.
std::optional<ClipRecord> recoverClipRecord(const std::string& folder, const std::string& fileName);

// Entries for every clip file in `folder` whose name is not in `indexed`
// (the index's FileName values), sorted by name. Stops early, with what it
// has, once `abort` is set.
std::vector<ClipRecord> findUnindexedClips(const std::string& folder, const std::set<std::string>& indexed,
                                           const std::atomic<bool>* abort = nullptr);

class QObject;

// The start-up pass: lists the entries the index has and searches `folder`,
// both on a worker thread (the entries through its own connection to the
// index's store file), and saves what it found
// through `index` on the calling thread's event loop, logging each clip
// recovered. Destroying the task stops the search and drops a result not yet
// saved. The index must outlive the task.
class ClipRecoveryTask {
public:
    // `resolve`, when given, turns `folder` into the folder to search on the
    // worker thread (it may wait on the volume).
    ClipRecoveryTask(ClipIndex& index, std::string folder,
                     std::function<std::string(const std::string&)> resolve = {});
    ~ClipRecoveryTask();
    ClipRecoveryTask(const ClipRecoveryTask&) = delete;
    ClipRecoveryTask& operator=(const ClipRecoveryTask&) = delete;

    // Entries saved so far (0 until the result came back).
    int saved() const { return m_saved; }
    // True once the result was handled on the calling thread.
    bool done() const { return m_done; }

private:
    void save(std::vector<ClipRecord> records);

    ClipIndex& m_index;
    std::atomic<bool> m_abort{false};
    std::unique_ptr<QObject> m_receiver;
    std::thread m_thread;
    int m_saved = 0;
    bool m_done = false;
};
