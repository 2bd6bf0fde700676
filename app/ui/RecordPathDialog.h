#pragma once

// "Setup video record path": the folder clips are recorded to, chosen from a
// tree of the mounted volumes and their folders.
//
// How it works: a FolderTree holds the volumes and the folders read so far;
// the tree widget mirrors it item for item. A folder is read only when its
// item is filled, by the right arrow key or a double-click on it while it has
// no children, so opening the dialog never walks a disk. On opening the
// stored record folder is selected along its path. The label under the tree
// shows the selected item's folder, and OK stores that text (ending with "/").

#include "app/core/FolderTree.h"

#include <QDialog>

#include <string>
#include <unordered_map>
#include <vector>

class AppStore;
class DialogService;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

class RecordPathDialog : public QDialog {
    Q_OBJECT
public:
    // Offers `volumes` as the roots (the mounted volumes by default) and reads
    // folders with `lister`.
    RecordPathDialog(AppStore& store, QWidget* parent = nullptr,
                     std::vector<Volume> volumes = currentVolumes(),
                     FolderTree::Lister lister = FolderTree::listSubfolders);

    // The record folder read at construction, or the one OK stored.
    const std::string& path() const { return m_path; }

    // Where a refused folder is said (nowhere when not set).
    void setDialogs(DialogService* dialogs) { m_dialogs = dialogs; }

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addChildItems(FolderNode* node);
    void showSelection(FolderNode* node);
    void fillCurrent();
    FolderNode* nodeOf(QTreeWidgetItem* item) const;

    AppStore& m_store;
    DialogService* m_dialogs = nullptr;
    std::string m_path;
    FolderTree m_tree;
    QTreeWidget* m_view;
    QLabel* m_pathLabel;
    std::unordered_map<const FolderNode*, QTreeWidgetItem*> m_items;
    bool m_syncing = false;
};
