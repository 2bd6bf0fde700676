#pragma once

// The export switch of the program's command line:
//
//   dialscope --export CLIP.avi [CLIP.avi ...] --to OUT.mp4|OUT.mkv
//             [--from TIME --until TIME] [--title TEXT] [--no-caption]
//
// runs one export without a window. The output's extension picks the format
// (".mkv" copies the recorded frames, ".mp4" transcodes to H.264). A clip's
// start comes from its recorded file name; the title defaults to the channel
// number in that name. TIME is local: "YYYY-MM-DD hh:mm[:ss]" (or with a "T"
// between) or the 14-digit stamp "YYYYMMDDhhmmss".
//
// How it works: parsing is pure (ParseExportCommand); RunExportCommand runs
// the exporter on the calling thread and writes warnings and the reason of a
// failure to the given stream. Exit status: 0 written, 1 nothing usable or
// the export failed (no file is left), 2 a usage error.

#include "platform/export/ClipExporter.h"

#include <QStringList>

#include <optional>
#include <ostream>
#include <string>

struct ExportCommand {
    ExportRequest request;
    // Clips whose names hold no start time; reported and left out.
    std::vector<std::string> undated;
};

// True when the arguments (without the program name) ask for an export.
bool isExportCommand(const QStringList& arguments);
// The export the arguments ask for; nothing, with `error` set, when they are
// not usable.
std::optional<ExportCommand> parseExportCommand(const QStringList& arguments, std::string& error);
// A local time as the switches take it, in milliseconds since the epoch.
std::optional<int64_t> parseExportTime(const QString& text);
// Runs the export; returns the process's exit status.
int runExportCommand(const ExportCommand& command, std::ostream& err);
// The whole command for main(): parses `arguments` and runs the export.
int exportCommandMain(const QStringList& arguments, std::ostream& err);
// For main() before anything else: when the command line asks for an export,
// runs it under a windowless QGuiApplication (the caption needs fonts) and
// returns the exit status; otherwise -1.
int runExportIfAsked(int& argc, char** argv);
