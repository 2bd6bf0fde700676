#include "app/ui/PasswordDialog.h"

#include "app/core/AppStore.h"
#include "app/ui/DialogControls.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace DialogControls;

PasswordDialog::PasswordDialog(AppStore& store, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_dialogs(dialogs) {
    setWindowTitle(tr("Enter password"));
    m_user = MakeEdit(this, 1021, kMaxLength);
    m_user->setText(ToQt(store.GetAppUser()));
    m_password = MakeEdit(this, 1022, kMaxLength, true);

    QPushButton* ok = MakeButton(this, tr("&OK"), 1);
    QPushButton* cancel = MakeButton(this, tr("&Cancel"), 2);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PasswordDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(tr("User name:"), m_user);
    form->addRow(tr("Password:"), m_password);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(form, 1);
    layout->addLayout(buttons);
    m_password->setFocus();
}

void PasswordDialog::accept() {
    if (m_store.CheckAppPassword(FromQt(m_user->text()), FromQt(m_password->text()))) {
        QDialog::accept();
        return;
    }
    m_dialogs.notice(this, LoadString(IDP_PASSWORD_NOT_CORRECT));
    m_password->setFocus(Qt::OtherFocusReason);
}
