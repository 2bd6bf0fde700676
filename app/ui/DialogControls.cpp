#include "app/ui/DialogControls.h"
#include "app/core/WireText.h"

#include <QHeaderView>
#include <QPalette>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

namespace DialogControls {

QLineEdit* makeEdit(QWidget* parent, int id, int maxLength, bool hidden) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(id));
    edit->setMaxLength(maxLength);
    if (hidden)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QPushButton* makeButton(QWidget* parent, const QString& text, int id) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    return button;
}

QTreeWidget* makeReportList(QWidget* parent, int id, const QStringList& headers,
                            std::initializer_list<int> widthsInChars) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QStringLiteral("list%1").arg(id));
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHeaderLabels(headers);
    list->header()->setSectionsClickable(false);
    list->header()->setStretchLastSection(false);
    int column = 0;
    for (int chars : widthsInChars)
        list->setColumnWidth(column++, averageCharWidths(parent, chars));
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, kListBackground);
    palette.setColor(QPalette::AlternateBase, kListBackground);
    list->setPalette(palette);
    return list;
}

int firstSelectedRow(const QTreeWidget* list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected())
            return i;
    return -1;
}

int averageCharWidths(const QWidget* widget, int count) {
    return QFontMetrics(widget->font()).averageCharWidth() * count;
}

QIcon untintedIcon(const QString& resource) {
    QIcon icon;
    icon.addFile(resource, QSize(), QIcon::Normal);
    icon.addFile(resource, QSize(), QIcon::Selected);
    return icon;
}

void acceptWireTextOnly(QLineEdit* edit, const QString& alsoRefused) {
    QString pattern = QString::fromLatin1(WireText::kTypablePattern);
    if (!alsoRefused.isEmpty())
        pattern = QStringLiteral("(?:(?![%1])%2)*")
                      .arg(QRegularExpression::escape(alsoRefused), pattern.chopped(1));
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
}

void focusEdit(QLineEdit* edit) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

} // namespace DialogControls
