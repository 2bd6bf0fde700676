#include "app/core/RecordVolume.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mntent.h>
#include <sys/statvfs.h>

namespace {

std::vector<std::string> readMountPoints() {
    std::vector<std::string> points;
    std::unique_ptr<FILE, int (*)(FILE*)> table(setmntent("/proc/self/mounts", "r"), endmntent);
    if (!table)
        return points;
    mntent entry{};
    char buffer[4096];
    // getmntent_r decodes the octal escapes ("\040" for a space) of mount points.
    while (getmntent_r(table.get(), &entry, buffer, sizeof buffer))
        points.emplace_back(entry.mnt_dir);
    return points;
}

} // namespace

std::string RecordVolume::longestMountPrefix(std::string_view realPath,
                                             const std::vector<std::string>& mountPoints) {
    std::string best;
    bool found = false;
    for (const std::string& point : mountPoints) {
        std::string_view mount = point;
        while (mount.size() > 1 && mount.back() == '/')
            mount.remove_suffix(1);
        if (mount.empty() || !realPath.starts_with(mount))
            continue;
        // "/home" holds "/home" and "/home/x", not "/homework".
        bool wholeComponent =
            mount == "/" || realPath.size() == mount.size() || realPath[mount.size()] == '/';
        if (wholeComponent && (!found || mount.size() > best.size())) {
            best = mount;
            found = true;
        }
    }
    return best;
}

std::string RecordVolume::mountPointOf(const std::string& folder) {
    std::unique_ptr<char, void (*)(void*)> real(realpath(folder.c_str(), nullptr), std::free);
    if (!real)
        return {};
    std::string mount = longestMountPrefix(real.get(), readMountPoints());
    // Without a readable mount table, every absolute path is on the root volume.
    return mount.empty() ? std::string("/") : mount;
}

uint32_t RecordVolume::freeMegabytes(const std::string& folder) {
    struct statvfs info {};
    if (statvfs(folder.c_str(), &info) != 0)
        return 0;
    return uint32_t((uint64_t(info.f_bavail) * uint64_t(info.f_frsize)) >> 20);
}
