#pragma once

// Which clips a retention pass deletes, chosen from facts gathered before
// (sizes, whether files and folders exist, the free space), without touching
// the disk.
//
// How it works: every clip gets a start key (yyyymmddhhmm from its index
// entry's start date and time; 0 when the entry's texts are not a valid date,
// and such a clip is never chosen) and the clips are ordered oldest first,
// equal starts by file name. Chosen are, in that order:
//   - entries whose video file is gone while their folder is readable: only
//     the entry goes (an interrupted pass heals this way; a folder that cannot
//     be read - an unmounted volume - never loses its entries);
//   - with an age limit, every clip that started before the cut-off;
//   - with the free-space rule and free space below the limit, the oldest
//     clips on the record folder's volume until the space they free brings
//     free space to 10 % above the limit.
// A clip that is in use (recording, open in a player) is never chosen.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct RetentionClip {
    std::string fileName;  // the video file's name, also the index entry's name
    std::string imageName; // the preview's name; may be empty
    std::string folder;    // ends with "/"
    std::string sDate;     // "yyyy/mm/dd" as stored
    std::string sTime;     // "hh:mm" as stored
    uint64_t bytes = 0;    // video and image file together
    bool videoExists = true;
    bool folderReadable = true;
    bool onRecordVolume = true; // deleting it frees space where recordings go
};

struct RetentionPolicy {
    bool freeSpaceRule = false;
    uint64_t limitBytes = 0;   // the disk warning limit
    uint64_t freeBytes = 0;    // free space on the record folder's volume now
    uint64_t ageCutoffKey = 0; // yyyymmddhhmm: clips starting before go; 0 = no age limit
};

struct RetentionPlan {
    std::vector<size_t> dropEntries; // index entries of vanished clips
    std::vector<size_t> deleteClips; // files and entry, in this order
    uint64_t bytesFreed = 0;
};

// yyyymmddhhmm from "yyyy/mm/dd" and "hh:mm"; 0 when either is malformed.
uint64_t retentionStartKey(std::string_view sDate, std::string_view sTime);
// The target the free-space rule works towards: the limit plus 10 %.
uint64_t retentionTargetBytes(uint64_t limitBytes);

RetentionPlan planRetention(const std::vector<RetentionClip>& clips, const RetentionPolicy& policy,
                            const std::function<bool(const RetentionClip&)>& inUse);

// Patrol picture folders ("yyyymmdd-hhmmss") older than the cut-off key;
// other names are never chosen.
std::vector<std::string> planPatrolFolders(const std::vector<std::string>& names, uint64_t ageCutoffKey);
