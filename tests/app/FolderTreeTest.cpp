#include "app/core/FolderTree.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> texts(const std::vector<std::unique_ptr<FolderNode>>& nodes) {
    std::vector<std::string> texts;
    for (const auto& node : nodes)
        texts.push_back(node->text);
    return texts;
}

// The tree over an in-memory disk (folder path ending with "/" -> subfolder
// names) that counts every read, so tests see which folders were touched.
class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override { m_tree.setRoots({{"/", false}, {"/data", false}, {"/mnt/nas", true}}); }

    std::map<std::string, std::vector<std::string>> m_disk{
        {"/", {"home", "srv"}}, {"/srv/", {"Clips", "clips2"}}, {"/srv/Clips/", {"Day1", "Day2"}},
        {"/data/", {"Clips"}},  {"/data/Clips/", {"Day1"}},     {"/data/Clips/Day1/", {"Cam"}},
    };
    std::vector<std::string> m_reads;
    FolderTree m_tree{[this](const std::string& folder) {
        m_reads.push_back(folder);
        return m_disk.contains(folder) ? m_disk[folder] : std::vector<std::string>{};
    }};
};

TEST_F(FolderTreeTest, SelectsAlongAStoredPathFillingEachStepFromTheLongestMountPoint) {
    std::vector<std::string> selections;
    m_tree.setSelectedObserver([&](FolderNode* node) { selections.push_back(node->text); });
    EXPECT_EQ(m_tree.roots()[2]->image, FolderImage::NetworkDrive);
    EXPECT_TRUE(m_reads.empty()) << "nothing is read before it is filled";

    m_tree.selectAlongPath("/data/Clips/Day1/");
    ASSERT_NE(m_tree.selected(), nullptr);
    EXPECT_EQ(FolderTree::fullPath(m_tree.selected()), "/data/Clips/Day1/");
    EXPECT_EQ(selections, (std::vector<std::string>{"/data", "Clips", "Day1"}));
    EXPECT_EQ(m_reads, (std::vector<std::string>{"/data/", "/data/Clips/", "/data/Clips/Day1/"}));
    EXPECT_EQ(texts(m_tree.selected()->children), std::vector<std::string>{"Cam"});
    EXPECT_TRUE(m_tree.roots()[0]->children.empty()) << "other volumes stay unread";
}

TEST_F(FolderTreeTest, ANameDifferingInCaseIsSkippedAndTheRestSearchedUnderTheDeepestMatch) {
    // "clips" is not "Clips": skipped; "Day1" is then searched under "/srv",
    // which has none, so "/srv" stays selected.
    m_tree.selectAlongPath("/srv/clips/Day1/");
    EXPECT_EQ(FolderTree::fullPath(m_tree.selected()), "/srv/");
    // A later name that does exist under the deepest match is still taken.
    m_tree.setRoots({{"/", false}});
    m_tree.selectAlongPath("/SRV/srv/Clips/");
    EXPECT_EQ(FolderTree::fullPath(m_tree.selected()), "/srv/Clips/");
    // A path on no listed volume selects nothing.
    m_tree.setRoots({{"/data", false}});
    m_tree.selectAlongPath("/elsewhere/Clips/");
    EXPECT_EQ(m_tree.selected(), nullptr);
}

TEST_F(FolderTreeTest, FillReadsOnlyChildlessNodesAndReportsOnlyAddedChildren) {
    std::vector<std::string> filled;
    m_tree.setFilledObserver([&](FolderNode* node) { filled.push_back(FolderTree::fullPath(node)); });
    FolderNode* root = m_tree.roots()[0].get();
    m_tree.fill(root);
    m_tree.fill(root);
    EXPECT_EQ(texts(root->children), (std::vector<std::string>{"home", "srv"}));
    EXPECT_EQ(root->children[0]->parent, root);
    // A folder found empty (or unreadable) is read again on the next fill.
    m_tree.fill(root->children[0].get());
    m_tree.fill(root->children[0].get());
    EXPECT_EQ(m_reads, (std::vector<std::string>{"/", "/home/", "/home/"}));
    EXPECT_EQ(filled, std::vector<std::string>{"/"});
}

TEST(FolderTreePathTest, ComponentsStartWithTheLongestRootByWholeNames) {
    const std::vector<std::string> roots{"/", "/home", "/home/op/remote", "/media/My Disk"};
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"/home/op/remote/Clips/", {"/home/op/remote", "Clips"}},
        {"/home/op/remoteX/", {"/home", "op", "remoteX"}},
        {"/homework/", {"/", "homework"}},
        {"/media/My Disk/a b/", {"/media/My Disk", "a b"}},
        {"//srv///x//", {"/", "srv", "x"}},
        {"rel/dir/", {"rel", "dir"}},
    };
    for (const auto& [path, components] : cases)
        EXPECT_EQ(FolderTree::pathComponents(path, roots), components) << path;
}

TEST(FolderTreeDiskTest, ListsSubfoldersAndFolderLinksSortedIgnoringCase) {
    TempDir dir;
    for (const char* name : {"b", "A", "c", "a"})
        fs::create_directory(dir.file(name));
    std::ofstream(dir.file("file.txt")) << "not a folder";
    fs::create_directory_symlink(dir.file("c"), dir.file("link-to-c"));
    fs::create_symlink(dir.file("file.txt"), dir.file("link-to-file"));
    fs::create_symlink(dir.file("missing"), dir.file("dangling"));
    EXPECT_EQ(FolderTree::listSubfolders(dir.path() + "/"),
              (std::vector<std::string>{"A", "a", "b", "c", "link-to-c"}));
    EXPECT_TRUE(FolderTree::listSubfolders(dir.file("missing")).empty());
}

} // namespace
