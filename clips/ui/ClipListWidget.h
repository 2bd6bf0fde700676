#pragma once

// The clip list shared by the clips browser and the search dialog: report
// view with the columns "File name", "Start time", "Ending time", "Path"
// (and "Channel" in the search), an unread or read icon per clip, multiple
// selection, light yellow background, always sorted by file name descending,
// so the newest clip is on top (file names begin with the start stamp).
//
// Each item remembers whether its icon shows the clip as read.

#include "clips/core/ClipIndex.h"

#include <QTreeWidget>

#include <string>
#include <vector>

class ClipListWidget : public QTreeWidget {
    Q_OBJECT

public:
    // `columns`: the column titles; widths are in average characters.
    ClipListWidget(const QStringList& columns, const QList<int>& widths, QWidget* parent);

    // Adds items for the records, with `channelLabels[i]` (when given) in
    // column 4; sorts once at the end.
    void addClips(const std::vector<const ClipRecord*>& records,
                  const std::vector<std::string>& channelLabels = {});

    // The selected items in list order (top to bottom).
    QList<QTreeWidgetItem*> selectedInListOrder() const;
    QList<QTreeWidgetItem*> allItems() const;

    static bool isRead(const QTreeWidgetItem* item);
    static void setRead(QTreeWidgetItem* item);
    static std::string fileName(const QTreeWidgetItem* item);
    static std::string folder(const QTreeWidgetItem* item);
    // Column 4: the channel label of a search result (empty in the browser).
    static std::string channelLabel(const QTreeWidgetItem* item);

signals:
    // Mouse double-clicks on an item: left plays, right deletes.
    void leftDoubleClicked();
    void rightDoubleClicked();
    // Enter pressed in the list.
    void enterPressed();

protected:
    bool viewportEvent(QEvent* event) override;
    // A new font (the dialogs set theirs after building the list) fits the
    // columns again.
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Widens the columns to their header and to the longest file name, start
    // and end time listed; never narrower than the base widths.
    void fitColumns();
    QList<int> m_baseWidths; // in average characters
};
