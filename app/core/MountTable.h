#pragma once

// The volumes the record folder can be chosen from: the mount table of the
// process (/proc/self/mounts) cut down to the file systems an operator can
// record to.
//
// How it works: MountTableParser takes the table's text in chunks of any size
// (a whole file or a byte at a time give the same result), splits it into
// lines and each line into its whitespace-separated fields, decoding the
// kernel's three-digit octal escapes ("\040" for a space, "\134" for a
// backslash). ListedVolumes then drops pseudo file systems, optical media and
// anything mounted below /proc, /sys or /dev, lets a later mount on the same
// point hide the earlier one, and marks network file systems so the tree can
// draw them with their own icon.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct MountEntry {
    std::string device;
    std::string mountPoint;
    std::string type;
};

class MountTableParser {
public:
    // Lines longer than this are dropped whole; the kernel never writes one.
    static constexpr size_t kMaxLine = 64 * 1024;

    void feed(std::string_view bytes);
    // Takes a last line that has no line break; returns every entry parsed.
    std::vector<MountEntry> finish();

    static std::vector<MountEntry> parse(std::string_view text);
    // Decodes backslash + three octal digits; any other backslash stays as is.
    static std::string unescape(std::string_view field);

private:
    void endLine();

    std::string m_line;
    bool m_overlong = false;
    std::vector<MountEntry> m_entries;
};

enum class VolumeKind { Local, Network, Hidden };

struct Volume {
    std::string mountPoint;
    bool network = false;

    bool operator==(const Volume&) const = default;
};

// How the record path tree shows a mount.
VolumeKind classifyMount(const MountEntry& entry);

// The volumes to offer, sorted by mount point.
std::vector<Volume> listedVolumes(const std::vector<MountEntry>& table);

// ListedVolumes of /proc/self/mounts, keeping only mount points that are
// folders (a container's bind-mounted files are not volumes); "/" alone when
// the table cannot be read.
std::vector<Volume> currentVolumes();
