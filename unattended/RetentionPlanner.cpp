#include "unattended/RetentionPlanner.h"

#include <algorithm>

namespace {

// The digits of `text` at the given positions as a number; false when any is
// not a digit.
bool digits(std::string_view text, size_t from, size_t count, uint64_t& value) {
    if (text.size() < from + count)
        return false;
    value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + uint64_t(text[i] - '0');
    }
    return true;
}

} // namespace

uint64_t retentionStartKey(std::string_view d, std::string_view t) {
    uint64_t year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (d.size() != 10 || d[4] != '/' || d[7] != '/' || t.size() != 5 || t[2] != ':')
        return 0;
    if (!digits(d, 0, 4, year) || !digits(d, 5, 2, month) || !digits(d, 8, 2, day) ||
        !digits(t, 0, 2, hour) || !digits(t, 3, 2, minute))
        return 0;
    if (year == 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
        return 0;
    return (((year * 100 + month) * 100 + day) * 100 + hour) * 100 + minute;
}

uint64_t retentionTargetBytes(uint64_t limitBytes) {
    return limitBytes + limitBytes / 10;
}

RetentionPlan planRetention(const std::vector<RetentionClip>& clips, const RetentionPolicy& policy,
                            const std::function<bool(const RetentionClip&)>& inUse) {
    RetentionPlan plan;
    std::vector<uint64_t> keys(clips.size());
    std::vector<size_t> order;
    order.reserve(clips.size());
    for (size_t i = 0; i < clips.size(); ++i) {
        const RetentionClip& clip = clips[i];
        if (!clip.videoExists) {
            if (clip.folderReadable && !inUse(clip))
                plan.dropEntries.push_back(i);
            continue;
        }
        keys[i] = retentionStartKey(clip.sDate, clip.sTime);
        if (keys[i] != 0)
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return keys[a] != keys[b] ? keys[a] < keys[b] : clips[a].fileName < clips[b].fileName;
    });

    const uint64_t target = retentionTargetBytes(policy.limitBytes);
    uint64_t free = policy.freeBytes;
    const bool spaceShort = policy.freeSpaceRule && policy.limitBytes != 0 && free < policy.limitBytes;
    for (size_t i : order) {
        const RetentionClip& clip = clips[i];
        const bool tooOld = policy.ageCutoffKey != 0 && keys[i] < policy.ageCutoffKey;
        const bool forSpace = spaceShort && clip.onRecordVolume && free < target;
        if (!tooOld && !forSpace) {
            // Sorted: once neither rule wants this clip, no later clip is too
            // old, and the space rule only stops once it has enough.
            if (policy.ageCutoffKey == 0 || keys[i] >= policy.ageCutoffKey) {
                if (!spaceShort || free >= target)
                    break;
            }
            continue;
        }
        if (inUse(clip))
            continue;
        plan.deleteClips.push_back(i);
        plan.bytesFreed += clip.bytes;
        if (clip.onRecordVolume)
            free += clip.bytes;
    }
    return plan;
}

std::vector<std::string> planPatrolFolders(const std::vector<std::string>& names, uint64_t ageCutoffKey) {
    std::vector<std::string> old;
    if (ageCutoffKey == 0)
        return old;
    for (const std::string& name : names) {
        uint64_t date = 0, time = 0;
        if (name.size() != 15 || name[8] != '-' || !digits(name, 0, 8, date) || !digits(name, 9, 6, time))
            continue;
        const uint64_t key = date * 10000 + time / 100;
        if (key < ageCutoffKey)
            old.push_back(name);
    }
    return old;
}
