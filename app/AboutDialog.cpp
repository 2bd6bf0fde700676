#include "app/AboutDialog.h"

#include "res/StringTable.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
    , m_text(new QLabel(loadString(IDS_ABOUT_VERSION), this)) {
    setWindowTitle(QStringLiteral("About %1...").arg(loadString(IDS_APP_TITLE)));
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/images/app.svg")).pixmap(48, 48));
    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(m_text, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutDialog::text() const {
    return m_text->text();
}
