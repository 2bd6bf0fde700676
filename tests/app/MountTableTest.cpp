#include "MountTable.h"

#include <gtest/gtest.h>

namespace {

// A real table's shape: root, pseudo file systems, a USB stick whose label has
// a space, a network share, a DVD and runtime folders.
constexpr const char* kTable = "/dev/sda2 / ext4 rw,relatime 0 0\n"
                               "proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
                               "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
                               "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
                               "tmpfs /run tmpfs rw,nosuid,nodev,mode=755 0 0\n"
                               "tmpfs /run/user/1000 tmpfs rw,nosuid,nodev 0 0\n"
                               "tmpfs /tmp tmpfs rw,nosuid,nodev 0 0\n"
                               "tmpfs /dev/shm tmpfs rw,nosuid,nodev 0 0\n"
                               "/dev/sda1 /boot/efi vfat rw 0 0\n"
                               "/dev/sdb1 /run/media/op/MY\\040STICK vfat rw 0 0\n"
                               "server:/export /mnt/clips nfs4 rw 0 0\n"
                               "//nas/video /mnt/nas cifs rw 0 0\n"
                               "op@host:/data /home/op/remote fuse.sshfs rw 0 0\n"
                               "/dev/sr0 /media/op/DVD iso9660 ro 0 0\n"
                               "/dev/sr1 /media/op/BD udf ro 0 0\n"
                               "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
                               "/dev/sda3 /home ext4 rw 0 0\n";

std::vector<Volume> Expected() {
    return {{"/", false},
            {"/boot/efi", false},
            {"/home", false},
            {"/home/op/remote", true},
            {"/mnt/clips", true},
            {"/mnt/nas", true},
            {"/run/media/op/MY STICK", false},
            {"/tmp", false}};
}

TEST(MountTableTest, ListsRecordableVolumesSortedWithNetworkSharesMarked) {
    EXPECT_EQ(ListedVolumes(MountTableParser::Parse(kTable)), Expected());
}

TEST(MountTableTest, FeedingByteByByteOrInOddChunksGivesTheSameEntries) {
    std::vector<MountEntry> whole = MountTableParser::Parse(kTable);
    std::string_view text = kTable;
    for (size_t chunk : {1u, 2u, 7u, 64u}) {
        MountTableParser parser;
        for (size_t at = 0; at < text.size(); at += chunk)
            parser.feed(text.substr(at, chunk));
        std::vector<MountEntry> parsed = parser.finish();
        ASSERT_EQ(parsed.size(), whole.size()) << chunk;
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(parsed[i].device, whole[i].device) << chunk;
            EXPECT_EQ(parsed[i].mountPoint, whole[i].mountPoint) << chunk;
            EXPECT_EQ(parsed[i].type, whole[i].type) << chunk;
        }
    }
}

TEST(MountTableTest, LinesAreSplitAtBlanksAndBrokenLinesSkipped) {
    struct Case {
        const char* text;
        size_t count;
        const char* firstMountPoint;
    };
    const Case cases[] = {
        {"", 0, nullptr},
        {"\n\n", 0, nullptr},
        {"/dev/a /x ext4 rw 0 0", 1, "/x"},      // no final line break
        {"/dev/a\t/x\text4\trw 0 0\n", 1, "/x"}, // tabs between fields
        {"  /dev/a   /x  ext4\n", 1, "/x"},      // runs of blanks, only three fields
        {"/dev/a /x\n/dev/b /y xfs\n", 1, "/y"}, // a line of two fields
        {"/dev/a /x ext4 rw\r\n", 1, "/x"},      // a carriage return stays in the options field
    };
    for (const Case& c : cases) {
        std::vector<MountEntry> entries = MountTableParser::Parse(c.text);
        ASSERT_EQ(entries.size(), c.count) << c.text;
        if (c.count) {
            EXPECT_EQ(entries[0].mountPoint, c.firstMountPoint) << c.text;
        }
    }
}

TEST(MountTableTest, UnescapesThreeDigitOctalEscapesOnly) {
    struct Case {
        const char* field;
        std::string decoded;
    };
    const Case cases[] = {
        {"a\\040b", "a b"},      {"tab\\011", "tab\t"},
        {"line\\012", "line\n"}, {"back\\134slash", "back\\slash"},
        {"\\377", "\xff"},       {"\\000", std::string(1, '\0')},
        {"\\04", "\\04"},   // two digits only
        {"\\08x", "\\08x"}, // 8 is no octal digit
        {"end\\", "end\\"}, // a lone backslash at the end
        {"\\\\040", "\\ "}, // the second backslash starts the escape
    };
    for (const Case& c : cases)
        EXPECT_EQ(MountTableParser::Unescape(c.field), c.decoded) << c.field;
}

TEST(MountTableTest, OverlongLinesAreDroppedWithoutLosingTheNext) {
    std::string text = "/dev/a /" + std::string(MountTableParser::kMaxLine, 'x') + " ext4 rw 0 0\n";
    text += "/dev/b /data ext4 rw 0 0\n";
    MountTableParser parser;
    for (char c : text)
        parser.feed(std::string_view(&c, 1));
    std::vector<MountEntry> entries = parser.finish();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mountPoint, "/data");
}

TEST(MountTableTest, ClassifiesByTypeAndPlace) {
    struct Case {
        const char* mountPoint;
        const char* type;
        VolumeKind kind;
    };
    const Case cases[] = {
        {"/", "overlay", VolumeKind::Local}, // a container's root
        {"/data", "btrfs", VolumeKind::Local},
        {"/tmp", "tmpfs", VolumeKind::Local},
        {"/run/lock", "tmpfs", VolumeKind::Hidden},
        {"/run", "tmpfs", VolumeKind::Hidden},
        {"/runner", "tmpfs", VolumeKind::Local}, // not below /run
        {"/run/media/op/USB", "exfat", VolumeKind::Local},
        {"/dev", "devtmpfs", VolumeKind::Hidden},
        {"/dev/hugepages", "hugetlbfs", VolumeKind::Hidden},
        {"/devices", "ext4", VolumeKind::Local}, // not below /dev
        {"/sys/kernel/debug", "debugfs", VolumeKind::Hidden},
        {"/proc/sys/fs/binfmt_misc", "autofs", VolumeKind::Hidden},
        {"/media/cd", "iso9660", VolumeKind::Hidden},
        {"/media/bd", "udf", VolumeKind::Hidden},
        {"/mnt/share", "nfs", VolumeKind::Network},
        {"/mnt/smb", "cifs", VolumeKind::Network},
        {"/mnt/ssh", "fuse.sshfs", VolumeKind::Network},
        {"/mnt/fuse", "fuse", VolumeKind::Local},
        {"relative", "ext4", VolumeKind::Hidden},
        {"", "ext4", VolumeKind::Hidden},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyMount({"dev", c.mountPoint, c.type}), c.kind) << c.mountPoint << " " << c.type;
}

TEST(MountTableTest, ALaterMountOnTheSamePointHidesTheEarlierOne) {
    auto listed = ListedVolumes(MountTableParser::Parse("/dev/a /mnt/x ext4 rw 0 0\n"
                                                        "srv:/e /mnt/x nfs rw 0 0\n"
                                                        "/dev/b /mnt/y ext4 rw 0 0\n"
                                                        "/dev/sr0 /mnt/y iso9660 ro 0 0\n"));
    EXPECT_EQ(listed, (std::vector<Volume>{{"/mnt/x", true}}));
}

TEST(MountTableTest, CurrentVolumesAreFoldersAndIncludeTheRootVolume) {
    std::vector<Volume> volumes = CurrentVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes.front().mountPoint, "/");
}

} // namespace
