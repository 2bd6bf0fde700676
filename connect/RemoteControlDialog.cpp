#include "connect/RemoteControlDialog.h"

#include "app/ui/DialogControls.h"
#include "connect/CommandDialog.h"
#include "connect/RemoteControlCommand.h"

#include <QVBoxLayout>

using namespace DialogControls;

RemoteControlDialog::RemoteControlDialog(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Remote control"));
    auto* layout = new QVBoxLayout(this);
    const struct {
        const char* text;
        int id;
        RemoteChoice choice;
    } kButtons[] = {
        {QT_TR_NOOP("&A. Close remote site."), 1077, RemoteChoice::CloseSite},
        {QT_TR_NOOP("&B. Reboot remote site."), 1078, RemoteChoice::RebootSite},
        {QT_TR_NOOP("&C. Execute extra program."), 1079, RemoteChoice::RunProgram},
    };
    for (const auto& entry : kButtons) {
        QPushButton* button = makeButton(this, tr(entry.text), entry.id);
        button->setAutoDefault(false);
        button->setStyleSheet(QStringLiteral("text-align: left; padding: 4px 12px;"));
        const RemoteChoice choice = entry.choice;
        connect(button, &QPushButton::clicked, this, [this, choice] { choose(choice); });
        layout->addWidget(button);
    }
    QPushButton* exit = makeButton(this, tr("&Q.Exit"), 1);
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, [this] { choose(RemoteChoice::None); });
    layout->addWidget(exit, 0, Qt::AlignRight);
}

void RemoteControlDialog::choose(RemoteChoice choice) {
    m_choice = choice;
    done(static_cast<int>(choice));
}

bool RemoteControlDialog::run(QWidget* parent, bool connected, PacketQueue* port) {
    RemoteControlPrompts prompts;
    prompts.choose = [parent] {
        RemoteControlDialog dialog(parent);
        dialog.exec();
        return dialog.choice();
    };
    prompts.commandLine = [parent]() -> std::optional<QString> {
        CommandDialog dialog(parent);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.commandLine();
    };
    return runRemoteControl(connected, port, prompts);
}
