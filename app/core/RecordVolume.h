#pragma once

// The mounted volume that holds the record folder: the "drive" the status bar
// names and whose free space the disk watch checks.
//
// How it works: the folder is resolved to its real path (symbolic links
// followed) and matched against the mount points of /proc/self/mounts; the
// longest mount point that is the path itself or one of its parent folders is
// the volume, so nested mounts and bind mounts resolve to the innermost one.
// Free space is what an unprivileged user may still write (statvfs f_bavail).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class RecordVolume {
public:
    // The mount point of the volume holding `folder`; "" when the folder cannot
    // be resolved, "/" when the mount table cannot be read.
    static std::string mountPointOf(const std::string& folder);

    // The longest of `mountPoints` that equals `realPath` or is a parent folder
    // of it, compared by whole path components; "" when none is.
    static std::string longestMountPrefix(std::string_view realPath,
                                          const std::vector<std::string>& mountPoints);

    // Whole megabytes free to an unprivileged user on the volume of `folder`,
    // cut to 32 bits; 0 when the query fails.
    static uint32_t freeMegabytes(const std::string& folder);
};
