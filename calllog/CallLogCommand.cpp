#include "calllog/CallLogCommand.h"

#include "calllog/CallLog.h"

#include <cstdio>
#include <cstring>
#include <string_view>

std::optional<int> runCallLogCommand(int argc, const char* const* argv, const char* logPath) {
    constexpr std::string_view kSwitch = "--call-log-csv";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        const char* file = nullptr;
        if (arg == kSwitch) {
            file = i + 1 < argc ? argv[i + 1] : nullptr;
        } else if (arg.size() > kSwitch.size() && arg.substr(0, kSwitch.size()) == kSwitch &&
                   arg[kSwitch.size()] == '=') {
            file = argv[i] + kSwitch.size() + 1;
        } else {
            continue;
        }
        if (!file || !*file) {
            std::fprintf(stderr, "usage: %s --call-log-csv FILE\n",
                         argc > 0 && argv[0] ? argv[0] : "dialscope");
            return 2;
        }
        const QString log = logPath && *logPath ? QString::fromLocal8Bit(logPath) : CallLog::defaultPath();
        if (!CallLog::exportCsv(log, QString::fromLocal8Bit(file))) {
            std::fprintf(stderr, "%s: the call log could not be written to %s\n",
                         argc > 0 && argv[0] ? argv[0] : "dialscope", file);
            return 1;
        }
        return 0;
    }
    return std::nullopt;
}
