#pragma once

// The switches this build adds to the command line, read before anything
// else starts: "--version" and "--help" print and end the program without a
// window; "--demo" starts the simulated site as a demo modem first (see
// DemoSite). Everything else stays with the start-up rules (StartupSwitches:
// only "Embedding" and "Automation" mean anything there).

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Action { Run, PrintVersion, PrintHelp };
    Action action = Action::Run;
    bool demo = false;
};

// `arguments` excludes the program name. The first of "--version" or
// "--help"/"-h" wins; a "--" ends the switches this build reads.
CommandLine parseCommandLine(const QStringList& arguments);

QString versionText();
QString helpText();
