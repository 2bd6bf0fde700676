#include "connect/CommandDialog.h"

#include "app/ui/DialogControls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace DialogControls;

CommandDialog::CommandDialog(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Command"));

    m_command = new QComboBox(this);
    m_command->setObjectName(QStringLiteral("combo1080"));
    m_command->setEditable(true);
    m_command->setInsertPolicy(QComboBox::NoInsert);
    m_command->addItems({QStringLiteral("zb-hsr"), QStringLiteral("zb-qdm")});
    m_command->model()->sort(0);
    m_command->lineEdit()->setMaxLength(kMaxLength);
    m_command->setCurrentIndex(-1);
    m_command->setEditText({});
    m_command->setMinimumWidth(averageCharWidths(this, kMaxLength));

    QPushButton* ok = makeButton(this, tr("&OK"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    ok->setDefault(true);
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &CommandDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CommandDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Command line"), this));
    layout->addWidget(m_command);
    layout->addLayout(buttons);
}

QString CommandDialog::commandLine() const {
    return m_command->currentText();
}
