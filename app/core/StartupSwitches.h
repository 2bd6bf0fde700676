#pragma once

// The command line's only effect: the switches "Embedding" and "Automation"
// (after "/" or "-", in any case) suppress the splash picture. Nothing else on
// the command line changes anything.

#include <QStringList>

// True when the splash picture is to be shown; `arguments` excludes the
// program name.
bool splashWanted(const QStringList& arguments);
