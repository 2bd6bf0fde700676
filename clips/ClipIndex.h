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

#include <cstdint>
#include <functional>
#include <memory>
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
    // Waits for a catalog build under way (PrepareCatalog).
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
    static void ForEachClipRecord(RegistryStore& store, const std::function<void(ClipRecord&)>& visit);

    // The whole index as a catalog (ClipCatalog.h), kept current by this
    // object's own writes. It is built (on the calling thread, or taken from
    // PrepareCatalog's worker) when there is none yet or when another process
    // wrote to the store since it was built, so it always shows the store.
    const ClipCatalog& Catalog();
    // Starts building the catalog on a worker thread with its own connection
    // to the store file, so that the first Catalog() finds it ready. Writes
    // made meanwhile are applied to it once it is taken.
    void PrepareCatalog();
    bool CatalogReady() const { return m_catalog != nullptr && !m_building; }

private:
    void TakePrepared();
    // Applies one of this object's writes to the catalog (or queues it while
    // a worker builds one). A change that returns false could not be followed:
    // the catalog is dropped and built again when next asked for.
    void Follow(std::function<bool(ClipCatalog&)> change);

    RegistryStore& m_store;
    const ChannelTable& m_channels;
    std::unique_ptr<ClipCatalog> m_catalog;
    uint64_t m_catalogVersion = 0; // the store's othersVersion() it was built at
    std::thread m_worker;
    bool m_building = false;
    std::unique_ptr<ClipCatalog> m_prepared; // the worker's result; read after join
    std::vector<std::function<bool(ClipCatalog&)>> m_pending;
};
