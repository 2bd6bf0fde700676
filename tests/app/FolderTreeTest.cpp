#include "FolderTree.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// An in-memory disk: folder path (ending with "/") -> subfolder names. Every
// read is counted, so tests see which folders the tree touched.
class FakeDisk {
public:
    FakeDisk(std::map<std::string, std::vector<std::string>> folders)
        : m_folders(std::move(folders)) {}

    FolderTree::Lister lister() {
        return [this](const std::string& folder) {
            m_reads.push_back(folder);
            auto it = m_folders.find(folder);
            return it == m_folders.end() ? std::vector<std::string>{} : it->second;
        };
    }
    const std::vector<std::string>& reads() const { return m_reads; }

private:
    std::map<std::string, std::vector<std::string>> m_folders;
    std::vector<std::string> m_reads;
};

std::vector<std::string> Texts(const std::vector<std::unique_ptr<FolderNode>>& nodes) {
    std::vector<std::string> texts;
    for (const auto& node : nodes)
        texts.push_back(node->text);
    return texts;
}

class FolderTreeTest : public ::testing::Test {
protected:
    FakeDisk m_disk{{
        {"/", {"home", "media", "srv"}},
        {"/srv/", {"Clips", "clips2"}},
        {"/srv/Clips/", {"Day1", "Day2"}},
        {"/srv/Clips/Day1/", {}},
        {"/data/", {"Clips"}},
        {"/data/Clips/", {"Day1"}},
        {"/data/Clips/Day1/", {"Cam"}},
    }};
    FolderTree m_tree{m_disk.lister()};
    std::vector<FolderNode*> m_selections;

    void SetUp() override {
        m_tree.setRoots({{"/", false}, {"/data", false}, {"/mnt/nas", true}});
        m_tree.setSelectedObserver([this](FolderNode* node) { m_selections.push_back(node); });
    }
};

TEST_F(FolderTreeTest, RootsAreTheVolumesWithDriveImages) {
    ASSERT_EQ(Texts(m_tree.roots()), (std::vector<std::string>{"/", "/data", "/mnt/nas"}));
    EXPECT_EQ(m_tree.roots()[0]->image, FolderImage::LocalDrive);
    EXPECT_EQ(m_tree.roots()[2]->image, FolderImage::NetworkDrive);
    EXPECT_TRUE(m_disk.reads().empty()) << "no folder is read before it is filled";
}

TEST_F(FolderTreeTest, SelectsAlongAStoredPathFillingEachStep) {
    m_tree.selectAlongPath("/data/Clips/Day1/");
    FolderNode* day1 = m_tree.selected();
    ASSERT_NE(day1, nullptr);
    EXPECT_EQ(FolderTree::FullPath(day1), "/data/Clips/Day1/");
    // The longest mount point wins over "/", and each selected node was filled
    // on the way; the last one's subfolder is known but not read.
    EXPECT_EQ(m_disk.reads(), (std::vector<std::string>{"/data/", "/data/Clips/", "/data/Clips/Day1/"}));
    EXPECT_EQ(Texts(day1->children), (std::vector<std::string>{"Cam"}));
    ASSERT_EQ(m_selections.size(), 3u);
    EXPECT_EQ(m_selections[0]->text, "/data");
    EXPECT_EQ(m_selections[1]->text, "Clips");
}

TEST_F(FolderTreeTest, APathUnderTheRootVolumeWalksFromSlash) {
    m_tree.selectAlongPath("/srv/Clips/Day2/");
    EXPECT_EQ(FolderTree::FullPath(m_tree.selected()), "/srv/Clips/Day2/");
    EXPECT_EQ(m_tree.roots()[1]->children.size(), 0u) << "other volumes stay unread";
}

TEST_F(FolderTreeTest, ANameDifferingInCaseIsSkippedAndTheRestSearchedUnderTheDeepestMatch) {
    // "clips" is not "Clips": it is skipped, and "Day1" is then searched among
    // the children of "/srv", where there is none, so "/srv" stays selected.
    m_tree.selectAlongPath("/srv/clips/Day1/");
    EXPECT_EQ(FolderTree::FullPath(m_tree.selected()), "/srv/");

    // A later name that does exist under the deepest match is still taken.
    FolderTree tree(m_disk.lister());
    tree.setRoots({{"/", false}});
    tree.selectAlongPath("/SRV/srv/Clips/");
    EXPECT_EQ(FolderTree::FullPath(tree.selected()), "/srv/Clips/");
}

TEST_F(FolderTreeTest, APathOnNoListedVolumeSelectsNothing) {
    FolderTree tree(m_disk.lister());
    tree.setRoots({{"/data", false}});
    tree.selectAlongPath("relative/Clips/");
    EXPECT_EQ(tree.selected(), nullptr);
    tree.selectAlongPath("/elsewhere/Clips/");
    EXPECT_EQ(tree.selected(), nullptr);
}

TEST_F(FolderTreeTest, FillReadsOnlyChildlessNodesAndReportsAddedChildren) {
    std::vector<std::string> filled;
    m_tree.setFilledObserver([&](FolderNode* node) { filled.push_back(FolderTree::FullPath(node)); });
    FolderNode* root = m_tree.roots()[0].get();
    m_tree.fill(root);
    m_tree.fill(root);
    EXPECT_EQ(m_disk.reads(), (std::vector<std::string>{"/"}));
    EXPECT_EQ(Texts(root->children), (std::vector<std::string>{"home", "media", "srv"}));
    EXPECT_EQ(root->children[0]->image, FolderImage::Folder);
    EXPECT_EQ(root->children[0]->parent, root);

    // A folder found empty (or unreadable) is read again on the next fill and
    // reports nothing.
    FolderNode* home = root->children[0].get();
    m_tree.fill(home);
    m_tree.fill(home);
    EXPECT_EQ(m_disk.reads().size(), 3u);
    EXPECT_EQ(filled, (std::vector<std::string>{"/"}));
}

TEST(FolderTreePathTest, ComponentsStartWithTheLongestRootByWholeNames) {
    struct Case {
        const char* path;
        std::vector<std::string> components;
    };
    const std::vector<std::string> roots{"/", "/home", "/home/op/remote", "/media/My Disk"};
    const Case cases[] = {
        {"/home/op/remote/Clips/", {"/home/op/remote", "Clips"}},
        {"/home/op/remoteX/", {"/home", "op", "remoteX"}},
        {"/homework/", {"/", "homework"}},
        {"/media/My Disk/a b/", {"/media/My Disk", "a b"}},
        {"/", {"/"}},
        {"//srv///x//", {"/", "srv", "x"}},
        {"rel/dir/", {"rel", "dir"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderTree::PathComponents(c.path, roots), c.components) << c.path;
}

TEST(FolderTreePathTest, FullPathJoinsRootAndNamesWithSingleSlashes) {
    FolderNode root{"/", FolderImage::LocalDrive, nullptr, {}};
    FolderNode srv{"srv", FolderImage::Folder, &root, {}};
    FolderNode mount{"/mnt/nas", FolderImage::NetworkDrive, nullptr, {}};
    FolderNode share{"share", FolderImage::Folder, &mount, {}};
    EXPECT_EQ(FolderTree::FullPath(&root), "/");
    EXPECT_EQ(FolderTree::FullPath(&srv), "/srv/");
    EXPECT_EQ(FolderTree::FullPath(&mount), "/mnt/nas/");
    EXPECT_EQ(FolderTree::FullPath(&share), "/mnt/nas/share/");
}

TEST(FolderTreeDiskTest, ListsSubfoldersAndFolderLinksSortedIgnoringCase) {
    TempDir dir;
    for (const char* name : {"b", "A", "c", "a"})
        fs::create_directory(dir.file(name));
    std::ofstream(dir.file("file.txt")) << "not a folder";
    fs::create_directory_symlink(dir.file("c"), dir.file("link-to-c"));
    fs::create_symlink(dir.file("file.txt"), dir.file("link-to-file"));
    fs::create_symlink(dir.file("missing"), dir.file("dangling"));
    EXPECT_EQ(FolderTree::ListSubfolders(dir.path()),
              (std::vector<std::string>{"A", "a", "b", "c", "link-to-c"}));
    EXPECT_EQ(FolderTree::ListSubfolders(dir.path() + "/"), FolderTree::ListSubfolders(dir.path()));
    EXPECT_TRUE(FolderTree::ListSubfolders(dir.file("missing")).empty());
}

TEST(FolderTreeDiskTest, AnUnreadableFolderHasNoChildren) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    TempDir dir;
    fs::create_directories(dir.file("locked/inner"));
    chmod(dir.file("locked").c_str(), 0);
    EXPECT_TRUE(FolderTree::ListSubfolders(dir.file("locked")).empty());
    chmod(dir.file("locked").c_str(), 0700);
}

} // namespace
