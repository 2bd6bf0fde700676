#pragma once

// Small helpers the program's dialogs share to build their controls. Every
// control is named "<kind><identifier>" (e.g. "edit1021", "button1", the OK
// button, "button2", Cancel), so tests and tools find it by the identifier the
// dialog gives it.

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <string>

class QTreeWidget;
class QWidget;

namespace DialogControls {

// The pale yellow behind the rows of the phone book and event lists.
inline const QColor kListBackground{255, 255, 220};

QLineEdit* makeEdit(QWidget* parent, int id, int maxLength = 32767, bool hidden = false);
QPushButton* makeButton(QWidget* parent, const QString& text, int id);

// A report-style list: several rows selectable, header not clickable, pale
// yellow background; each column `widthsInChars[i]` average characters wide.
QTreeWidget* makeReportList(QWidget* parent, int id, const QStringList& headers,
                            std::initializer_list<int> widthsInChars);

// The index of the first selected row, or -1.
int firstSelectedRow(const QTreeWidget* list);

// Width in pixels of `count` average characters of the widget's font.
int averageCharWidths(const QWidget* widget, int count);

// An icon from the program's pictures that looks the same when its item is
// selected (the style would otherwise tint it).
QIcon untintedIcon(const QString& resource);

// Limits an edit to texts that go on the wire as one byte per character:
// keystrokes and pastes bringing a character outside Latin-1 (or one of
// `alsoRefused`) are not accepted.
void acceptWireTextOnly(QLineEdit* edit, const QString& alsoRefused = {});

// Gives the focus to an edit and selects its text, so the operator can retype it.
void focusEdit(QLineEdit* edit);

inline QString toQt(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string fromQt(const QString& text) {
    return text.toStdString();
}

} // namespace DialogControls
