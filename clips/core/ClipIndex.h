#pragma once

// The clip index: one entry per recorded clip under "RemoteRecord" of the
// application's registry key, holding the clip's file names, folder, channel,
// channel name, start and end time and whether it has been played.
//
// How it works: an entry is a key named after the clip's video file with ten
// values (texts stored without terminating zero, "Channel" and "Open" as
// DWORDs). Saving writes the whole entry in one atomic batch, so a crash never
// leaves half an entry. Loading reads every entry with all its values in one
// query; each text is cut so that it fits a 260-byte buffer with its zero.
// Marking looks the entry up by name and then insists on the exact spelling,
// since key names match regardless of letter case but clip names do not.
// Nothing here creates the container key except a save.
//
// Used on the UI thread only; the store and the channel table must outlive it.
// The catalog is built on a worker and handed over without the UI thread ever
// waiting for it; the browser shows a loading state until it is there.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChannelTable;
class ClipCatalog;
class RegistryStore;

struct ClipRecord {
    std::string FileName; // video file name without folder; also the entry's key name
    int32_t Open = 0;     // 1 once played, else 0
    int32_t Channel = 0;
    std::string Location; // the channel's name when the clip was saved
    std::string SDate;    // "%04d/%02d/%02d"
    std::string STime;    // "%02d:%02d"
    std::string EDate;
    std::string ETime;
    std::string ImageName; // image file name without folder
    std::string Path;      // folder of both files, ending with "/"
};

class ClipIndex {
public:
    ClipIndex(RegistryStore& userStore, const ChannelTable& channels);
    // Stops a catalog build under way (PrepareCatalog) and waits for its
    // worker to leave.
    ~ClipIndex();
    ClipIndex(const ClipIndex&) = delete;
    ClipIndex& operator=(const ClipIndex&) = delete;

    // Replaces record.Location with the channel table's name of
    // record.Channel, then creates or overwrites the entry with all ten values.
    // False, with nothing written, when the store refuses or FileName cannot
    // be a key name (empty, 260 bytes or longer, or holding "\").
    bool SaveClipRecord(ClipRecord& record);
    // Removes the entry; the clip's files are left alone.
    bool DeleteClipRecord(const std::string& fileName);
    // Appends every entry in the store's order; nothing when there is no index.
    void LoadClipRecords(std::vector<ClipRecord>& records);
    // Sets "Open" of the entry spelled exactly `fileName`; creates nothing.
    void MarkClipRead(const std::string& fileName, bool read);

    // Every entry of `store`'s clip index, read as LoadClipRecords reads it,
    // one at a time (the record may be moved from); `visit` must not use the
    // store. For building other views of the index on any thread that owns
    // `store`.
    static void forEachClipRecord(RegistryStore& store, const std::function<void(ClipRecord&)>& visit);

    // Runs a callable on the thread that uses this index, later (for the UI
    // thread: a queued call). Called from the catalog worker when it is done.
    using Post = std::function<void(std::function<void()>)>;
    // A build that ended before the post was set is posted at once.
    void setPost(Post post);
    bool hasPost() const { return static_cast<bool>(m_post); }

    // The store's file, for workers that read the index on a connection of
    // their own.
    const std::string& storeFilePath() const;

    // The whole index as a catalog (ClipCatalog.h), kept current by this
    // object's own writes, or null while the first one is being built. Never
    // waits: when there is none, or another process wrote to the store since
    // it was built, a build starts on a worker thread (with its own connection
    // to the store file) and the catalog at hand, if any, keeps answering,
    // stale but consistent, until the new one is ready. With a post set, the
    // new catalog replaces the old one only through the post, which then tells
    // the catalog listeners; without one, a later call takes it.
    const ClipCatalog* currentCatalog();
    // The catalog showing the store now: waits for a build under way and
    // builds on the calling thread when needed. For threads that may wait on
    // the disk (tools, tests, benchmarks), never the UI thread.
    const ClipCatalog& catalogNow();
    // Starts building the catalog on the worker, so that it is ready when
    // first asked for. Writes made meanwhile are applied to it once it is taken.
    void prepareCatalog();
    bool catalogReady() const { return m_catalog != nullptr && !m_building; }
    bool catalogBuilding() const { return m_building; }

    // Called (through the post, or from catalogNow) each time a newly built
    // catalog has replaced the previous one or arrived first. The returned number removes it.
    int addCatalogListener(std::function<void()> listener);
    void removeCatalogListener(int id);
    // Called on the building thread as each build starts (for tests: which
    // thread builds, and builds made slow on purpose).
    void setBuildHook(std::function<void()> hook) { m_buildHook = std::move(hook); }

private:
    void startBuild();
    // Takes the worker's catalog when it is done; false when there is none.
    bool takeBuilt();
    // The posted end of a worker build: takes it and tells the listeners.
    void catalogArrived();
    void notifyListeners();
    // Posts catalogArrived; from any thread.
    void postArrival(const Post& post);
    // Applies one of this object's writes to the catalog (and queues it for
    // the one a worker builds). A change that returns false could not be
    // followed: the catalog is dropped and built again when next asked for.
    void follow(std::function<bool(ClipCatalog&)> change);

    RegistryStore& m_store;
    const ChannelTable& m_channels;
    std::unique_ptr<ClipCatalog> m_catalog;
    uint64_t m_catalogVersion = 0; // the store's othersVersion() it was built at
    uint64_t m_buildVersion = 0;   // the same for the build under way
    std::thread m_worker;
    bool m_building = false;
    std::atomic<bool> m_stop{false};         // set once, as this object goes
    std::atomic<bool> m_built{false};        // the worker has stored m_prepared (set under m_postLock)
    std::unique_ptr<ClipCatalog> m_prepared; // the worker's result; read once m_built
    std::vector<std::function<bool(ClipCatalog&)>> m_pending;
    std::mutex m_postLock; // m_post is set on this object's thread, read by the worker as it ends
    Post m_post;
    std::function<void()> m_buildHook;
    std::map<int, std::function<void()>> m_listeners;
    int m_nextListener = 1;
    // Posted callables hold it weakly: one running after this object is gone
    // does nothing.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
