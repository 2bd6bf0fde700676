#pragma once

// Files the program looks up by plain name ("alarm.wav", "DScope.Hlp"): first
// beside the executable, then in the program's data folders
// ($XDG_DATA_HOME/dialscope, $XDG_DATA_DIRS/dialscope, ../share/dialscope next
// to the executable's folder).

#include <QString>
#include <QStringList>

// The folders searched, in order.
QStringList programFileFolders();
// The path of the first existing file `name` in `folders`; empty when none.
QString findProgramFile(const QString& name, const QStringList& folders = programFileFolders());
