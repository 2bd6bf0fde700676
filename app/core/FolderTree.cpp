#include "app/core/FolderTree.h"

#include "app/core/RecordVolume.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {

void splitNames(std::string_view text, std::vector<std::string>& out) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t slash = text.find('/', start);
        if (slash == std::string_view::npos)
            slash = text.size();
        if (slash > start)
            out.emplace_back(text.substr(start, slash - start));
        start = slash + 1;
    }
}

} // namespace

FolderTree::FolderTree(Lister lister)
    : m_lister(std::move(lister)) {}

void FolderTree::setRoots(const std::vector<Volume>& volumes) {
    m_selected = nullptr;
    m_roots.clear();
    for (const Volume& volume : volumes) {
        auto node = std::make_unique<FolderNode>();
        node->text = volume.mountPoint;
        node->image = volume.network ? FolderImage::NetworkDrive : FolderImage::LocalDrive;
        m_roots.push_back(std::move(node));
    }
}

void FolderTree::select(FolderNode* node) {
    if (node == m_selected)
        return;
    m_selected = node;
    if (m_onSelected)
        m_onSelected(node);
}

void FolderTree::fill(FolderNode* node) {
    if (!node || !node->children.empty())
        return;
    for (std::string& name : m_lister(fullPath(node))) {
        auto child = std::make_unique<FolderNode>();
        child->text = std::move(name);
        child->image = FolderImage::Folder;
        child->parent = node;
        node->children.push_back(std::move(child));
    }
    if (!node->children.empty() && m_onFilled)
        m_onFilled(node);
}

void FolderTree::selectAlongPath(const std::string& path) {
    std::vector<std::string> rootTexts;
    for (const auto& root : m_roots)
        rootTexts.push_back(root->text);
    for (const std::string& component : pathComponents(path, rootTexts)) {
        const auto& candidates = m_selected ? m_selected->children : m_roots;
        auto found = std::find_if(candidates.begin(), candidates.end(),
                                  [&](const auto& node) { return node->text == component; });
        if (found == candidates.end())
            continue;
        FolderNode* node = found->get();
        select(node);
        fill(node);
    }
}

std::string FolderTree::fullPath(const FolderNode* node) {
    std::string path;
    for (; node; node = node->parent) {
        std::string part = node->text;
        if (!part.ends_with('/'))
            part.push_back('/');
        path.insert(0, part);
    }
    return path;
}

std::vector<std::string> FolderTree::pathComponents(const std::string& path,
                                                    const std::vector<std::string>& rootTexts) {
    std::vector<std::string> components;
    std::string root = RecordVolume::longestMountPrefix(path, rootTexts);
    std::string_view rest = path;
    if (!root.empty()) {
        // The root's own text, as the tree spells it (a trailing "/" included).
        auto same = std::find_if(rootTexts.begin(), rootTexts.end(), [&](const std::string& text) {
            std::string_view t = text;
            while (t.size() > 1 && t.back() == '/')
                t.remove_suffix(1);
            return t == root;
        });
        components.push_back(*same);
        rest.remove_prefix(root.size());
    }
    splitNames(rest, components);
    return components;
}

std::vector<std::string> FolderTree::listSubfolders(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            std::string full = folder + (folder.ends_with('/') ? "" : "/") + std::string(name);
            isFolder = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        if (isFolder)
            names.emplace_back(name);
    }
    // Case-blind order, as an operator reads a folder list; byte order breaks ties.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        auto lower = [](unsigned char c) {
            return std::tolower(c);
        };
        bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                 [&](char x, char y) { return lower(x) < lower(y); });
        bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                    [&](char x, char y) { return lower(x) < lower(y); });
        return less || (!greater && a < b);
    });
    return names;
}
