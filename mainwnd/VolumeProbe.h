#pragma once

// Reads the free space and mount point of the record folder's volume away
// from the user-interface thread: statvfs and realpath on a hung network
// volume can take as long as the volume likes, and the live pictures must
// not wait for them.
//
// How it works: one worker thread serves one request at a time. A request
// made while another is under way replaces the one waiting (only the newest
// folder matters), so a stalled volume holds at most one query. The reading
// is handed to the requesting thread's event loop and given to the callback
// of the request it answers. Destroying the probe drops readings not yet
// delivered; a query stuck in the kernel is left to finish on its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class VolumeProbe {
public:
    struct Reading {
        uint32_t freeMB = 0;    // 0 when the query failed
        std::string mountPoint; // "" when the folder cannot be resolved
    };
    // How a folder is read; the real volume query unless a test gives another.
    using Query = std::function<Reading(const std::string& folder)>;

    explicit VolumeProbe(Query query = {});
    ~VolumeProbe();
    VolumeProbe(const VolumeProbe&) = delete;
    VolumeProbe& operator=(const VolumeProbe&) = delete;

    // Asks for a reading of `folder`'s volume; never waits.
    void request(const std::string& folder, std::function<void(const Reading&)> done);

    // The real query: RecordVolume's free megabytes and mount point of the
    // record folder that the stored text `folder` stands for
    // (AppStore::resolveRecordPath).
    static Reading readVolume(const std::string& folder);

    struct Shared; // state shared with the worker thread

private:
    std::shared_ptr<Shared> m_shared;
};
