#include "app/ui/SetupPasswordDialog.h"

#include "app/core/AppStore.h"
#include "app/ui/DialogControls.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace DialogControls;

SetupPasswordDialog::SetupPasswordDialog(AppStore& store, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_dialogs(dialogs) {
    setWindowTitle(tr("Setup password"));
    m_user = MakeEdit(this, 1021, kMaxLength);
    m_password = MakeEdit(this, 1022, kMaxLength, true);
    m_confirm = MakeEdit(this, 1023, kMaxLength, true);
    m_user->setText(ToQt(store.GetAppUser()));
    QString password = ToQt(store.GetAppPassword());
    m_password->setText(password);
    m_confirm->setText(password);

    QPushButton* ok = MakeButton(this, tr("&OK"), 1);
    QPushButton* cancel = MakeButton(this, tr("&Cancel"), 2);
    QPushButton* reset = MakeButton(this, tr("Reset"), 1073);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &SetupPasswordDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SetupPasswordDialog::reject);
    connect(reset, &QPushButton::clicked, this, &SetupPasswordDialog::reset);

    auto* form = new QFormLayout;
    form->addRow(tr("User name:"), m_user);
    form->addRow(tr("Password:"), m_password);
    form->addRow(tr("Confirm:"), m_confirm);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(reset);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(form, 1);
    layout->addLayout(buttons);
}

void SetupPasswordDialog::reset() {
    m_user->clear();
    m_password->clear();
    m_confirm->clear();
}

void SetupPasswordDialog::accept() {
    QString user = m_user->text();
    QString password = m_password->text();
    QString confirm = m_confirm->text();
    if (!user.isEmpty()) {
        if (password != confirm) {
            m_dialogs.notice(this, LoadString(IDP_PASSWORD_NOT_CORRECT));
            m_confirm->setFocus(Qt::OtherFocusReason);
            return;
        }
    } else if (!password.isEmpty() || !confirm.isEmpty()) {
        m_dialogs.notice(this, LoadString(IDP_INPUT_USER_NAME));
        m_user->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The start-up password is a security setting: a refused write is said,
    // never taken for saved.
    if (!m_store.SaveAppPassword(FromQt(user), FromQt(password))) {
        m_dialogs.notice(this, LoadString(IDP_SETTINGS_NOT_SAVED));
        return;
    }
    QDialog::accept();
}
