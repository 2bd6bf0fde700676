#include "unattended/UnattendedDialog.h"

#include "app/core/AppStore.h"
#include "unattended/RedialScheduler.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

UnattendedDialog::UnattendedDialog(const UnattendedSettings& values, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Unattended operation"));
    setObjectName(QStringLiteral("unattendedDialog"));
    auto* layout = new QVBoxLayout(this);

    auto* line = new QGroupBox(tr("Dropped calls"), this);
    auto* lineForm = new QFormLayout(line);
    m_reconnect = new QCheckBox(tr("Reconnect when a call drops"), line);
    m_reconnect->setObjectName(QStringLiteral("reconnect"));
    m_reconnect->setChecked(values.reconnect);
    lineForm->addRow(m_reconnect);
    m_attempts = new QSpinBox(line);
    m_attempts->setObjectName(QStringLiteral("reconnectAttempts"));
    m_attempts->setRange(RedialScheduler::kMinAttempts, RedialScheduler::kMaxAttempts);
    m_attempts->setValue(values.reconnectAttempts);
    lineForm->addRow(tr("Attempts:"), m_attempts);
    layout->addWidget(line);

    auto* clips = new QGroupBox(tr("Clip retention"), this);
    auto* clipForm = new QFormLayout(clips);
    m_freeSpace =
        new QCheckBox(tr("When free space falls below the warning limit, delete the oldest clips"), clips);
    m_freeSpace->setObjectName(QStringLiteral("retentionFreeSpace"));
    m_freeSpace->setChecked(values.retentionFreeSpace);
    clipForm->addRow(m_freeSpace);
    m_days = new QSpinBox(clips);
    m_days->setObjectName(QStringLiteral("retentionDays"));
    m_days->setRange(0, UnattendedSettings::kMaxRetentionDays);
    m_days->setSpecialValueText(tr("never"));
    m_days->setValue(values.retentionDays);
    clipForm->addRow(tr("Delete clips older than (days):"), m_days);
    layout->addWidget(clips);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

UnattendedSettings UnattendedDialog::values() const {
    UnattendedSettings values;
    values.reconnect = m_reconnect->isChecked();
    values.reconnectAttempts = m_attempts->value();
    values.retentionFreeSpace = m_freeSpace->isChecked();
    values.retentionDays = m_days->value();
    return values;
}

bool UnattendedDialog::run(QWidget* parent, AppStore& store) {
    UnattendedDialog dialog(UnattendedSettings::read(store), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return dialog.values().store(store);
}
