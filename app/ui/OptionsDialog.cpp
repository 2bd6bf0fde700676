#include "app/ui/OptionsDialog.h"

#include "app/core/AppStore.h"
#include "app/ui/DialogControls.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

using namespace DialogControls;

namespace {

QLineEdit* makeNumberEdit(QWidget* parent, int id, uint32_t value) {
    QLineEdit* edit = makeEdit(parent, id);
    edit->setAlignment(Qt::AlignRight);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setText(QString::number(value));
    edit->setMaximumWidth(averageCharWidths(edit, 8));
    return edit;
}

} // namespace

OptionsDialog::OptionsDialog(AppStore& store, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_dialogs(dialogs)
    , m_values(OptionsValues::read(store)) {
    setWindowTitle(tr("Options"));

    m_autoRun = new QCheckBox(tr("Auto run Dialscope software"), this);
    m_autoRun->setObjectName(QStringLiteral("check1068"));
    m_autoRun->setChecked(m_values.autoRun);
    m_autoArrange = new QCheckBox(tr("Auto arrange video channel window"), this);
    m_autoArrange->setObjectName(QStringLiteral("check1025"));
    m_autoArrange->setChecked(m_values.autoArrange);

    auto* disk = new QGroupBox(tr("Detect hard disk capacity:"), this);
    m_lowSpace = makeNumberEdit(disk, 1026, m_values.lowSpaceMB);
    m_checkSeconds = makeNumberEdit(disk, 1027, m_values.checkSeconds);
    auto* grid = new QGridLayout(disk);
    grid->addWidget(new QLabel(tr("Notify insufficient disk space:"), disk), 0, 0);
    grid->addWidget(m_lowSpace, 0, 1);
    grid->addWidget(new QLabel(tr("MB"), disk), 0, 2);
    grid->addWidget(new QLabel(tr("How long to check disk space:"), disk), 1, 0);
    grid->addWidget(m_checkSeconds, 1, 1);
    grid->addWidget(new QLabel(tr("Sec."), disk), 1, 2);

    QPushButton* ok = makeButton(this, tr("&OK"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &OptionsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &OptionsDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_autoRun);
    layout->addWidget(m_autoArrange);
    layout->addWidget(disk);
    layout->addLayout(buttons);
}

std::optional<uint32_t> OptionsDialog::readNumber(QLineEdit* edit, uint32_t min, uint32_t max) {
    NumberCheck check = checkNumberField(edit->text(), min, max);
    if (!check.value) {
        m_dialogs.notice(this, check.message);
        focusEdit(edit);
    }
    return check.value;
}

void OptionsDialog::accept() {
    OptionsValues values;
    values.autoArrange = m_autoArrange->isChecked();
    std::optional<uint32_t> lowSpace =
        readNumber(m_lowSpace, OptionsValues::kLowSpaceMin, OptionsValues::kLowSpaceMax);
    if (!lowSpace)
        return;
    std::optional<uint32_t> checkSeconds =
        readNumber(m_checkSeconds, OptionsValues::kCheckSecondsMin, OptionsValues::kCheckSecondsMax);
    if (!checkSeconds)
        return;
    values.lowSpaceMB = *lowSpace;
    values.checkSeconds = *checkSeconds;
    values.autoRun = m_autoRun->isChecked();
    if (!values.store(m_store)) {
        // Closing would look as if saved; the operator is told and may Cancel.
        m_dialogs.notice(this, loadString(IDP_SETTINGS_NOT_SAVED));
        return;
    }
    m_values = values;
    QDialog::accept();
}
