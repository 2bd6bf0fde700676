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
    m_user = makeEdit(this, 1021, kMaxLength);
    m_user->setText(toQt(store.GetAppUser()));
    m_password = makeEdit(this, 1022, kMaxLength, true);

    QPushButton* ok = makeButton(this, tr("&OK"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
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
    if (m_store.CheckAppPassword(fromQt(m_user->text()), fromQt(m_password->text()))) {
        QDialog::accept();
        return;
    }
    m_dialogs.notice(this, loadString(IDP_PASSWORD_NOT_CORRECT));
    m_password->setFocus(Qt::OtherFocusReason);
}
