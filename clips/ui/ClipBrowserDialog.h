#pragma once

// The clips browser: a tree with one node per channel label, the clips of the
// selected node (newest first, read and unread icons, counts), a preview of
// the selected clip's image file with a cross behind it, and Play, Delete and
// Search.
//
// How it works: the nodes and their counts come from the clip index's
// catalog (ClipCatalog.h), so opening costs the same for any number of clips.
// Opening never waits for the catalog: while it is being read the tree holds
// one "Loading clips..." line, and it fills in when the catalog arrives; a
// catalog rebuilt after another process wrote replaces the shown one the same
// way, the chosen node and its loaded pages kept.
// Selecting a node loads its newest clips, a page at a time: the next page
// when the list is scrolled near its end. Loaded clips are kept in in-memory
// groups. Play and Delete change the index at once (the catalog follows) and
// the loaded clips with it. Players opened here are owned by the dialog and
// close with it.

#include "clips/core/ClipGroups.h"
#include "clips/core/ImagePreview.h"
#include "platform/media/MediaPlayer.h"

#include <QDialog>
#include <QImage>

class ClipIndex;
class ClipListWidget;
class DialogService;
class QLabel;
class QPushButton;
class QTreeWidget;

// The preview frame: a cross over the whole frame, the picture stretched over it.
class ClipPreviewFrame : public QWidget {
public:
    explicit ClipPreviewFrame(QWidget* parent);
    void setPicture(QImage picture);
    const QImage& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};

class ClipBrowserDialog : public QDialog {
    Q_OBJECT

public:
    // Clips loaded into the list at a time.
    static constexpr size_t kPageRows = 500;

    ClipBrowserDialog(ClipIndex& index, DialogService& dialogs, QWidget* parent,
                      MediaPlayer::Clock playerClock = {});
    ~ClipBrowserDialog() override;

    // The main window's "Playback video" command: runs the browser modally.
    static void run(ClipIndex& index, DialogService& dialogs, QWidget* parent);

    // Selects the tree node with this label (the list follows).
    bool selectNode(const std::string& label);
    void play();
    void deleteSelected();
    void deleteNodeClips();
    void openSearch();
    // Exports the selected clips of the node as one file.
    void exportSelected();

    ClipGroupList& groups() { return m_groups; }
    QTreeWidget* tree() const { return m_tree; }
    ClipListWidget* list() const { return m_list; }
    ClipPreviewFrame* previewFrame() const { return m_preview; }
    const ClipCounts& counts() const { return m_counts; }
    QString countTexts() const;
    // The catalog is still being read (the tree says so).
    bool loading() const { return m_loading; }

private:
    // The tree from the catalog at hand, or the loading state.
    void showCatalog();
    // A newer catalog arrived: shown at once, or when the operation under
    // way ends (a message box, a file dialog or the search runs the event
    // loop while it holds items and records of this dialog).
    void catalogArrived();
    class Busy;
    void fillList();
    // Adds the next page of the selected node's clips to the list.
    void loadMore();
    void showPreview();
    std::string selectedLabel() const;

    ClipIndex& m_index;
    DialogService& m_dialogs;
    MediaPlayer::Clock m_playerClock;
    ClipGroupList m_groups;
    ImagePreview m_imagePreview;
    ClipCounts m_counts;
    size_t m_loaded = 0; // clips of the selected node loaded, newest first
    bool m_loading = false;
    int m_busy = 0;            // operations under way that hold items or records
    bool m_refreshDue = false; // a catalog arrived meanwhile
    int m_catalogListener = 0;

    QTreeWidget* m_tree;
    ClipPreviewFrame* m_preview;
    ClipListWidget* m_list;
    QLabel* m_total;
    QLabel* m_read;
    QLabel* m_unread;
};
