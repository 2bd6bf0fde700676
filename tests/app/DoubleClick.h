#pragma once

#include <QTest>
#include <QTreeWidget>

// Double-clicks an item as a mouse does: the press that selects it, then the
// double-click. (A bare QTest::mouseDClick reaches an item view without the
// press it expects first, and the view ignores it.)
inline void doubleClick(QTreeWidget* view, QTreeWidgetItem* item) {
    QPoint at = view->visualItemRect(item).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}
