#pragma once

// Logging categories of the subsystems, so support can follow a failure that
// the operator is deliberately not told about (store writes, clip files).
//
// How it works: each subsystem logs with qCWarning(lcX, ...) and says why
// (errno text, codec or SQLite message). Warnings and worse are on by
// default, debug messages off; QT_LOGGING_RULES changes that as usual
// ("dialscope.avi.debug=true"). Messages go to stderr; a program that calls
// InstallLogFile() also appends them to the file named by DIALSCOPE_LOG.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcTelephony)
Q_DECLARE_LOGGING_CATEGORY(lcCodec)
Q_DECLARE_LOGGING_CATEGORY(lcClips)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcAvi)
Q_DECLARE_LOGGING_CATEGORY(lcApp)

// When DIALSCOPE_LOG names a file, every message from now on is written to
// stderr and appended to that file (created 0600). True when a file was
// opened; false when the variable is unset or the file cannot be opened (said
// on stderr).
bool InstallLogFile();
