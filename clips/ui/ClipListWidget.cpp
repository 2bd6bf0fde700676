#include "clips/ui/ClipListWidget.h"
#include "app/core/WireText.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace {

constexpr int kReadRole = Qt::UserRole;
// The stored bytes of the name and folder, so that lookups match exactly
// whatever the texts' encoding.
constexpr int kFileNameRole = Qt::UserRole + 1;
constexpr int kFolderRole = Qt::UserRole + 2;
constexpr int kLabelRole = Qt::UserRole + 3;

QIcon clipIcon(bool read) {
    static const QIcon unread(QStringLiteral(":/images/clip_unread.png"));
    static const QIcon seen(QStringLiteral(":/images/clip_read.png"));
    return read ? seen : unread;
}

} // namespace

ClipListWidget::ClipListWidget(const QStringList& columns, const QList<int>& widths, QWidget* parent)
    : QTreeWidget(parent) {
    setColumnCount(int(columns.size()));
    setHeaderLabels(columns);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setIconSize(QSize(20, 20));
    header()->setSectionsClickable(false);
    m_baseWidths = widths;
    fitColumns();
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xDC));
    setPalette(colours);
    sortByColumn(0, Qt::DescendingOrder);
    setSortingEnabled(true);
    header()->setSortIndicatorShown(false);
}

void ClipListWidget::fitColumns() {
    const QFontMetrics metrics(font());
    const int charWidth = metrics.averageCharWidth();
    constexpr int kPadding = 16; // the cell's margins on both sides
    for (int column = 0; column < m_baseWidths.size(); ++column) {
        int width = std::max(m_baseWidths[column] * charWidth,
                             metrics.horizontalAdvance(headerItem()->text(column)) + kPadding);
        // File name, start and end time: every listed text shows whole. These
        // texts are digits in fixed patterns, so the longest by characters
        // is measured alone (a long list costs one measurement).
        if (column <= 2 && topLevelItemCount() > 0) {
            QString longest;
            for (int i = 0; i < topLevelItemCount(); ++i)
                if (const QString text = topLevelItem(i)->text(column); text.size() > longest.size())
                    longest = text;
            const int extra = kPadding + (column == 0 ? iconSize().width() + 8 : 0);
            width = std::max(width, metrics.horizontalAdvance(longest) + extra);
        }
        setColumnWidth(column, width);
    }
}

void ClipListWidget::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitColumns();
}

void ClipListWidget::addClips(const std::vector<const ClipRecord*>& records,
                              const std::vector<std::string>& channelLabels) {
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        const ClipRecord& r = *records[i];
        auto* item = new QTreeWidgetItem;
        item->setText(0, QString::fromStdString(r.FileName));
        item->setText(1, QString::fromStdString(r.SDate + " " + r.STime));
        item->setText(2, QString::fromStdString(r.EDate + " " + r.ETime));
        item->setText(3, QString::fromStdString(r.Path));
        if (i < channelLabels.size()) {
            item->setText(4, WireText::toDisplay(channelLabels[i]));
            item->setData(0, kLabelRole, QByteArray::fromStdString(channelLabels[i]));
        }
        item->setData(0, kReadRole, r.Open == 1);
        item->setData(0, kFileNameRole, QByteArray::fromStdString(r.FileName));
        item->setData(0, kFolderRole, QByteArray::fromStdString(r.Path));
        item->setIcon(0, clipIcon(r.Open == 1));
        items.append(item);
    }
    setSortingEnabled(false);
    addTopLevelItems(items);
    fitColumns();
    setSortingEnabled(true);
    sortByColumn(0, Qt::DescendingOrder);
    header()->setSortIndicatorShown(false);
}

QList<QTreeWidgetItem*> ClipListWidget::allItems() const {
    QList<QTreeWidgetItem*> items;
    items.reserve(topLevelItemCount());
    for (int i = 0; i < topLevelItemCount(); ++i)
        items.append(topLevelItem(i));
    return items;
}

QList<QTreeWidgetItem*> ClipListWidget::selectedInListOrder() const {
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected())
            items.append(topLevelItem(i));
    return items;
}

bool ClipListWidget::isRead(const QTreeWidgetItem* item) {
    return item->data(0, kReadRole).toBool();
}

void ClipListWidget::setRead(QTreeWidgetItem* item) {
    item->setData(0, kReadRole, true);
    item->setIcon(0, clipIcon(true));
}

std::string ClipListWidget::fileName(const QTreeWidgetItem* item) {
    return item->data(0, kFileNameRole).toByteArray().toStdString();
}

std::string ClipListWidget::folder(const QTreeWidgetItem* item) {
    return item->data(0, kFolderRole).toByteArray().toStdString();
}

bool ClipListWidget::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            emit leftDoubleClicked();
            return true;
        }
        if (mouse->button() == Qt::RightButton) {
            emit rightDoubleClicked();
            return true;
        }
    }
    return QTreeWidget::viewportEvent(event);
}

void ClipListWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit enterPressed();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

std::string ClipListWidget::channelLabel(const QTreeWidgetItem* item) {
    return item->data(0, kLabelRole).toByteArray().toStdString();
}
