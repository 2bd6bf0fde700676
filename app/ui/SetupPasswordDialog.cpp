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
    m_user = makeEdit(this, 1021, kMaxLength);
    m_password = makeEdit(this, 1022, kMaxLength, true);
    m_confirm = makeEdit(this, 1023, kMaxLength, true);
    m_user->setText(toQt(store.GetAppUser()));
    QString password = toQt(store.GetAppPassword());
    m_password->setText(password);
    m_confirm->setText(password);

    QPushButton* ok = makeButton(this, tr("&OK"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    QPushButton* reset = makeButton(this, tr("Reset"), 1073);
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
            m_dialogs.notice(this, loadString(IDP_PASSWORD_NOT_CORRECT));
            m_confirm->setFocus(Qt::OtherFocusReason);
            return;
        }
    } else if (!password.isEmpty() || !confirm.isEmpty()) {
        m_dialogs.notice(this, loadString(IDP_INPUT_USER_NAME));
        m_user->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The start-up password is a security setting: a refused write is said,
    // never taken for saved.
    if (!m_store.SaveAppPassword(fromQt(user), fromQt(password))) {
        m_dialogs.notice(this, loadString(IDP_SETTINGS_NOT_SAVED));
        return;
    }
    QDialog::accept();
}
