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
#include <string>
#include <vector>

class ChannelTable;
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

private:
    RegistryStore& m_store;
    const ChannelTable& m_channels;
};
