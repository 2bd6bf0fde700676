#pragma once

// The volume and folder tree of the record path dialog, without widgets.
//
// How it works: the roots are the listed volumes, named by their mount points;
// a folder's children are read only when the folder is filled, and only once
// it has none, so the tree grows as the operator opens folders. A node's full
// path is its root's mount point followed by each folder name, every part
// ending with "/". Selecting along a stored path picks the root whose mount
// point is the longest leading part of the path and then walks the remaining
// names one by one: a name found among the selected node's children (exactly,
// case included) is selected and filled when it has no children yet; a name
// not found is skipped and the next one is searched under the same node.
// Observers hear of every node added and every selection change, so a view
// can mirror the tree.

#include "app/core/MountTable.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class FolderImage { LocalDrive = 0, NetworkDrive = 1, Folder = 2 };

struct FolderNode {
    std::string text;
    FolderImage image = FolderImage::Folder;
    FolderNode* parent = nullptr;
    std::vector<std::unique_ptr<FolderNode>> children;
};

class FolderTree {
public:
    // Names of the subfolders of a folder ("." and ".." left out).
    using Lister = std::function<std::vector<std::string>(const std::string& folder)>;

    explicit FolderTree(Lister lister = listSubfolders);

    // Called after a node's children were appended by a fill, and after the
    // selection changed.
    void setFilledObserver(std::function<void(FolderNode*)> observer) { m_onFilled = std::move(observer); }
    void setSelectedObserver(std::function<void(FolderNode*)> observer) {
        m_onSelected = std::move(observer);
    }

    // Replaces the whole tree by one root per volume, in the given order.
    void setRoots(const std::vector<Volume>& volumes);
    const std::vector<std::unique_ptr<FolderNode>>& roots() const { return m_roots; }

    FolderNode* selected() const { return m_selected; }
    void select(FolderNode* node);

    // Reads the node's folder and appends one child per subfolder, when the
    // node has no children yet; a folder that cannot be read stays childless.
    void fill(FolderNode* node);

    // Selects along `path` as described above; nodes are filled on the way.
    void selectAlongPath(const std::string& path);

    // The node's folder, ending with "/".
    static std::string fullPath(const FolderNode* node);

    // The components selectAlongPath searches for: the longest of `rootTexts`
    // that leads `path` (by whole components), then the remaining names split
    // at "/", empty names left out. Without such a root, every name of the path.
    static std::vector<std::string> pathComponents(const std::string& path,
                                                   const std::vector<std::string>& rootTexts);

    // The subfolders of `folder` on disk (symbolic links to folders count),
    // sorted by name; none when it cannot be read.
    static std::vector<std::string> listSubfolders(const std::string& folder);

private:
    Lister m_lister;
    std::vector<std::unique_ptr<FolderNode>> m_roots;
    FolderNode* m_selected = nullptr;
    std::function<void(FolderNode*)> m_onFilled;
    std::function<void(FolderNode*)> m_onSelected;
};
