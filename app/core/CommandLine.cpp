#include "app/core/CommandLine.h"

#ifndef DIALSCOPE_VERSION
#define DIALSCOPE_VERSION "0"
#endif

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("--version")) {
            line.action = CommandLine::Action::PrintVersion;
            return line;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.action = CommandLine::Action::PrintHelp;
            return line;
        }
        if (argument == QLatin1String("--demo"))
            line.demo = true;
    }
    return line;
}

QString versionText() {
    return QStringLiteral("dialscope " DIALSCOPE_VERSION "\n");
}

QString helpText() {
    return QStringLiteral("Usage: dialscope [/Embedding | -Automation] [--demo]\n"
                          "       dialscope --export CLIP.avi [CLIP.avi ...] --to OUT.mp4|OUT.mkv\n"
                          "                 [--from TIME --until TIME]\n"
                          "       dialscope --patrol-once [NAME ...]\n"
                          "       dialscope --call-log-csv FILE\n"
                          "       dialscope --version | --help\n"
                          "\n"
                          "Remote video surveillance over the telephone network: dials video\n"
                          "recorders through a data modem, shows their channels live, answers\n"
                          "their calls and records clips.\n"
                          "\n"
                          "  /Embedding, -Automation  start without the splash picture (either\n"
                          "                           may start with '/' or '-', in any case)\n"
                          "  --demo                   start the simulated site (dialscope-sitesim)\n"
                          "                           as a demo modem and use it; dial any number,\n"
                          "                           user demo, password demo; 999 calls back\n"
                          "  --export CLIPS --to OUT  export clips to one MP4 (H.264) or MKV\n"
                          "                           (frames as recorded) file without a window;\n"
                          "                           --from/--until cut it to a time range\n"
                          "  --patrol-once [NAME ...] run one site patrol round over the stored\n"
                          "                           patrol list (or the named phone-book\n"
                          "                           entries), write its report and exit: 0 when\n"
                          "                           every site was reached, 1 otherwise, 3 when\n"
                          "                           another instance runs\n"
                          "  --call-log-csv FILE      write the whole call log to FILE as CSV and\n"
                          "                           exit (works while the program runs)\n"
                          "  --version                print the version and exit\n"
                          "  -h, --help               print this help and exit\n"
                          "\n"
                          "Environment:\n"
                          "  DIALSCOPE_MODEMS         modems to use before the system's serial\n"
                          "                           ports, separated by ',' or blanks: device\n"
                          "                           paths, tcp://HOST:PORT (raw TCP) or\n"
                          "                           rfc2217://HOST:PORT (Telnet COM-PORT-CONTROL)\n"
                          "  DIALSCOPE_REGISTRY_DIR   keep the settings store in this folder\n");
}
