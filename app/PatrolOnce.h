#pragma once

// `dialscope --patrol-once [NAME ...]`: one patrol round without a window,
// then the program ends.
//
// How it works: the round runs over the stored patrol list, or over the named
// phone-book entries in that order, with the stored modem, exactly as a round
// started from the menu (report.json in the round's folder). Exit status: 0
// when every site was reached, 1 otherwise (also when there was nothing to
// call), 3 when another instance of the program runs (it holds the modem).

#include <QStringList>

#include <optional>

// The names after "--patrol-once" when it is the first argument; nothing
// otherwise. `arguments` excludes the program name.
std::optional<QStringList> PatrolOnceNames(const QStringList& arguments);

// Runs the round inside the running QApplication; returns the exit status.
int RunPatrolOnce(const QStringList& names);
