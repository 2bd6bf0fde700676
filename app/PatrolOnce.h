#pragma once

// `dialscope --patrol-once [NAME ...]`: one patrol round without a window,
// then the program ends.
//
// How it works: the round runs over the stored patrol list, or over the named
// phone-book entries in that order, with the stored modem, exactly as a round
// started from the menu (report.json in the round's folder). Exit status: 0
// when every site was reached, 1 otherwise (also when there was nothing to
// call), 3 when another instance of the program runs (it holds the modem).
//
// It is meant for unattended runs (cron): it never waits for a person. The
// start-up password is not asked: that password guards the operator's window,
// and this run shows none (a second start cannot bring it forward either); it
// only calls the stored sites and writes pictures and the report into the
// record folder, which the store's own user can read anyway. Message boxes
// the program would show are written to stderr and answered with their
// default (Cancel, No, OK) by UnattendedDialogService.

#include "platform/dialogs/DialogService.h"

#include <QStringList>

#include <optional>

// The names after "--patrol-once" when it is the first argument; nothing
// otherwise. `arguments` excludes the program name.
std::optional<QStringList> patrolOnceNames(const QStringList& arguments);

// Runs the round inside the running QApplication; returns the exit status.
int runPatrolOnce(const QStringList& names);

// Answers every message box at once with its default after writing its text
// to stderr; file dialogs are cancelled.
class UnattendedDialogService final : public DialogService {
public:
    MessageAnswer message(QWidget* parent, const QString& text, MessageButtons buttons,
                          MessageIcon icon) override;
    QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
};
