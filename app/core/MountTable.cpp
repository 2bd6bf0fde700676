#include "app/core/MountTable.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The fields of a line, still escaped.
std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// True when `path` is `folder` or lies below it.
bool isUnder(std::string_view path, std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

template <size_t N> bool oneOf(std::string_view value, const std::array<std::string_view, N>& set) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

// Kernel and desktop file systems that hold no operator's files.
constexpr auto kPseudoTypes = std::to_array<std::string_view>(
    {"proc",      "sysfs",       "devtmpfs",    "devpts",         "cgroup",    "cgroup2",    "mqueue",
     "debugfs",   "tracefs",     "securityfs",  "pstore",         "bpf",       "configfs",   "fusectl",
     "hugetlbfs", "autofs",      "binfmt_misc", "efivarfs",       "selinuxfs", "rpc_pipefs", "nsfs",
     "nfsd",      "fuse.portal", "fuse.lxcfs",  "fuse.gvfsd-fuse"});

// Read-only media: optical discs, and images such as snap packages.
constexpr auto kReadOnlyMediaTypes =
    std::to_array<std::string_view>({"iso9660", "udf", "squashfs", "cramfs"});

// Memory file systems are listed only where an operator may put files (/tmp),
// not as the runtime folders of the system.
constexpr auto kMemoryTypes = std::to_array<std::string_view>({"tmpfs", "ramfs"});

constexpr auto kNetworkTypes = std::to_array<std::string_view>(
    {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs", "9p", "sshfs", "fuse.sshfs",
     "davfs", "fuse.davfs2", "fuse.glusterfs", "fuse.rclone", "lustre"});

} // namespace

void MountTableParser::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        size_t newline = bytes.find('\n');
        std::string_view part = bytes.substr(0, newline);
        if (!m_overlong) {
            if (m_line.size() + part.size() > kMaxLine) {
                m_overlong = true;
                m_line.clear();
            } else {
                m_line.append(part);
            }
        }
        if (newline == std::string_view::npos)
            return;
        endLine();
        bytes.remove_prefix(newline + 1);
    }
}

std::vector<MountEntry> MountTableParser::finish() {
    endLine();
    return std::move(m_entries);
}

void MountTableParser::endLine() {
    if (!m_overlong) {
        std::vector<std::string_view> fields = splitFields(m_line);
        if (fields.size() >= 3)
            m_entries.push_back({unescape(fields[0]), unescape(fields[1]), unescape(fields[2])});
    }
    m_line.clear();
    m_overlong = false;
}

std::vector<MountEntry> MountTableParser::parse(std::string_view text) {
    MountTableParser parser;
    parser.feed(text);
    return parser.finish();
}

std::string MountTableParser::unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(char(value & 0xFF));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

VolumeKind classifyMount(const MountEntry& entry) {
    std::string_view point = entry.mountPoint;
    std::string_view type = entry.type;
    if (point.empty() || point.front() != '/')
        return VolumeKind::Hidden;
    if (isUnder(point, "/proc") || isUnder(point, "/sys") || isUnder(point, "/dev"))
        return VolumeKind::Hidden;
    if (oneOf(type, kPseudoTypes) || oneOf(type, kReadOnlyMediaTypes))
        return VolumeKind::Hidden;
    if (oneOf(type, kMemoryTypes) && isUnder(point, "/run"))
        return VolumeKind::Hidden;
    if (oneOf(type, kNetworkTypes))
        return VolumeKind::Network;
    return VolumeKind::Local;
}

std::vector<Volume> listedVolumes(const std::vector<MountEntry>& table) {
    std::vector<Volume> volumes;
    for (const MountEntry& entry : table) {
        // A later mount on the same point hides the earlier one, even when it
        // is itself not listed.
        std::erase_if(volumes, [&](const Volume& v) { return v.mountPoint == entry.mountPoint; });
        VolumeKind kind = classifyMount(entry);
        if (kind != VolumeKind::Hidden)
            volumes.push_back({entry.mountPoint, kind == VolumeKind::Network});
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume& a, const Volume& b) { return a.mountPoint < b.mountPoint; });
    return volumes;
}

std::vector<Volume> currentVolumes() {
    std::ifstream file("/proc/self/mounts", std::ios::binary);
    std::vector<Volume> volumes;
    if (file) {
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        volumes = listedVolumes(MountTableParser::parse(text));
    }
    std::erase_if(volumes, [](const Volume& v) {
        struct stat info {};
        return ::stat(v.mountPoint.c_str(), &info) != 0 || !S_ISDIR(info.st_mode);
    });
    if (volumes.empty())
        volumes.push_back({"/", false});
    return volumes;
}
