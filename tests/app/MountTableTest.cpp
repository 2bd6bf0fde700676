#include "app/core/MountTable.h"

#include <gtest/gtest.h>

namespace {

// A real table's shape: root, pseudo file systems, a USB stick whose label has
// a space, network shares, optical discs, a snap image and runtime folders.
constexpr const char* kTable = "/dev/sda2 / ext4 rw,relatime 0 0\n"
                               "proc /proc proc rw,nosuid 0 0\n"
                               "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
                               "tmpfs /run tmpfs rw,nosuid,nodev,mode=755 0 0\n"
                               "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                               "tmpfs /tmp tmpfs rw 0 0\n"
                               "tmpfs /dev/shm tmpfs rw 0 0\n"
                               "/dev/sdb1 /run/media/op/MY\\040STICK vfat rw 0 0\n"
                               "server:/export /mnt/clips nfs4 rw 0 0\n"
                               "op@host:/data /home/op/remote fuse.sshfs rw 0 0\n"
                               "/dev/sr0 /media/op/DVD iso9660 ro 0 0\n"
                               "/dev/sr1 /media/op/BD udf ro 0 0\n"
                               "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
                               "/dev/sda3 /home ext4 rw 0 0\n";

TEST(MountTableTest, ListsRecordableVolumesSortedWithNetworkSharesMarked) {
    EXPECT_EQ(listedVolumes(MountTableParser::parse(kTable)),
              (std::vector<Volume>{{"/", false},
                                   {"/home", false},
                                   {"/home/op/remote", true},
                                   {"/mnt/clips", true},
                                   {"/run/media/op/MY STICK", false},
                                   {"/tmp", false}}));
}

TEST(MountTableTest, AnyChunkingGivesTheSameEntries) {
    auto points = [](const std::vector<MountEntry>& entries) {
        std::vector<std::string> out;
        for (const auto& e : entries)
            out.push_back(e.device + "|" + e.mountPoint + "|" + e.type);
        return out;
    };
    std::string_view text = kTable;
    for (size_t chunk : {1u, 2u, 7u}) {
        MountTableParser parser;
        for (size_t at = 0; at < text.size(); at += chunk)
            parser.feed(text.substr(at, chunk));
        EXPECT_EQ(points(parser.finish()), points(MountTableParser::parse(text))) << chunk;
    }
}

TEST(MountTableTest, SplitsAtBlanksAndSkipsBrokenOrOverlongLines) {
    EXPECT_EQ(MountTableParser::parse("/dev/a\t/x  ext4").at(0).mountPoint, "/x"); // tabs, no final break
    EXPECT_EQ(MountTableParser::parse("/dev/a /x\n\n/dev/b /y xfs\n").size(), 1u); // two fields only

    std::string text = "/dev/a /" + std::string(MountTableParser::kMaxLine, 'x') + " ext4 rw 0 0\n";
    text += "/dev/b /data ext4 rw 0 0\n";
    std::vector<MountEntry> entries = MountTableParser::parse(text);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mountPoint, "/data");
}

TEST(MountTableTest, UnescapesThreeDigitOctalEscapesOnly) {
    const std::pair<const char*, std::string> cases[] = {
        {"a\\040b", "a b"}, {"back\\134slash", "back\\slash"},
        {"\\377", "\xff"},  {"\\000", {"\0", 1}},
        {"\\04", "\\04"},   {"\\08x", "\\08x"},
        {"end\\", "end\\"}, {"\\\\040", "\\ "},
    };
    for (const auto& [field, decoded] : cases)
        EXPECT_EQ(MountTableParser::unescape(field), decoded) << field;
}

TEST(MountTableTest, ClassifiesByTypeAndPlace) {
    struct Case {
        const char* mountPoint;
        const char* type;
        VolumeKind kind;
    };
    const Case cases[] = {
        {"/", "overlay", VolumeKind::Local},
        {"/run/lock", "tmpfs", VolumeKind::Hidden},
        {"/runner", "tmpfs", VolumeKind::Local},
        {"/run/media/op/USB", "exfat", VolumeKind::Local},
        {"/dev/hugepages", "hugetlbfs", VolumeKind::Hidden},
        {"/devices", "ext4", VolumeKind::Local},
        {"/sys/kernel/debug", "debugfs", VolumeKind::Hidden},
        {"/mnt/smb", "cifs", VolumeKind::Network},
        {"/mnt/fuse", "fuse", VolumeKind::Local},
        {"relative", "ext4", VolumeKind::Hidden},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classifyMount({"dev", c.mountPoint, c.type}), c.kind) << c.mountPoint << " " << c.type;
}

TEST(MountTableTest, ALaterMountOnTheSamePointHidesTheEarlierOne) {
    auto listed = listedVolumes(MountTableParser::parse("/dev/a /mnt/x ext4 rw 0 0\n"
                                                        "srv:/e /mnt/x nfs rw 0 0\n"
                                                        "/dev/b /mnt/y ext4 rw 0 0\n"
                                                        "/dev/sr0 /mnt/y iso9660 ro 0 0\n"));
    EXPECT_EQ(listed, (std::vector<Volume>{{"/mnt/x", true}}));
}

} // namespace
