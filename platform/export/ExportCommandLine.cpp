#include "platform/export/ExportCommandLine.h"

#include <QDateTime>
#include <QGuiApplication>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <cctype>
#include <cstdio>
#include <iostream>

namespace {

const QString kExport = QStringLiteral("--export");

std::string lowerSuffix(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string suffix = path.substr(dot + 1);
    for (char& c : suffix)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return suffix;
}

// "%04d" of the channel number that follows the 14-digit stamp in a
// recorded clip's name; empty when there is none.
std::string channelTitle(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() < 18)
        return {};
    const std::string digits = name.substr(14, 4);
    for (char c : digits)
        if (c < '0' || c > '9')
            return {};
    return digits;
}

} // namespace

bool isExportCommand(const QStringList& arguments) {
    return arguments.contains(kExport);
}

std::optional<int64_t> parseExportTime(const QString& text) {
    const QString trimmed = text.trimmed();
    for (const char* format : {"yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd hh:mm", "yyyy-MM-ddThh:mm:ss",
                               "yyyy-MM-ddThh:mm", "yyyyMMddhhmmss"}) {
        const QDateTime time = QDateTime::fromString(trimmed, QString::fromLatin1(format));
        if (time.isValid())
            return time.toMSecsSinceEpoch();
    }
    return std::nullopt;
}

std::optional<ExportCommand> parseExportCommand(const QStringList& arguments, std::string& error) {
    ExportCommand command;
    ExportRequest& request = command.request;
    std::optional<std::string> title;
    bool seenExport = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        auto value = [&](const char* name) -> std::optional<QString> {
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QStringLiteral("--"))) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        if (argument == kExport) {
            seenExport = true;
            while (i + 1 < arguments.size() && !arguments[i + 1].startsWith(QStringLiteral("--"))) {
                const std::string path = arguments[++i].toStdString();
                if (const auto start = clipStartFromFileName(path))
                    request.clips.push_back({path, *start});
                else
                    command.undated.push_back(path);
            }
        } else if (argument == QStringLiteral("--to")) {
            const auto to = value("--to");
            if (!to)
                return std::nullopt;
            request.outputPath = to->toStdString();
        } else if (argument == QStringLiteral("--from") || argument == QStringLiteral("--until")) {
            const bool from = argument == QStringLiteral("--from");
            const auto text = value(from ? "--from" : "--until");
            if (!text)
                return std::nullopt;
            const auto time = parseExportTime(*text);
            if (!time) {
                error = "cannot read the time \"" + text->toStdString() + "\"";
                return std::nullopt;
            }
            (from ? request.fromMs : request.untilMs) = *time;
        } else if (argument == QStringLiteral("--title")) {
            const auto text = value("--title");
            if (!text)
                return std::nullopt;
            title = text->toStdString();
        } else if (argument == QStringLiteral("--no-caption")) {
            request.caption = false;
        } else {
            error = "unknown argument \"" + argument.toStdString() + "\"";
            return std::nullopt;
        }
    }
    if (!seenExport || (request.clips.empty() && command.undated.empty())) {
        error = "--export needs at least one clip";
        return std::nullopt;
    }
    if (request.outputPath.empty()) {
        error = "--to names no output file";
        return std::nullopt;
    }
    const std::string suffix = lowerSuffix(request.outputPath);
    if (suffix == "mp4")
        request.format = ExportFormat::Mp4H264;
    else if (suffix == "mkv")
        request.format = ExportFormat::MkvCopy;
    else {
        error = "the output file must end in .mp4 or .mkv";
        return std::nullopt;
    }
    if (request.fromMs && request.untilMs && *request.untilMs <= *request.fromMs) {
        error = "--until must be later than --from";
        return std::nullopt;
    }
    if (title)
        request.title = *title;
    else if (!request.clips.empty())
        request.title = channelTitle(request.clips.front().path);
    return command;
}

int runExportCommand(const ExportCommand& command, std::ostream& err) {
    for (const std::string& path : command.undated)
        err << "dialscope: warning: " << path << ": skipped, its name holds no start time\n";
    if (command.request.clips.empty()) {
        err << "dialscope: nothing to export\n";
        return 1;
    }
    const std::atomic<bool> abort{false};
    const ExportResult result = ClipExporter(command.request).run(abort);
    for (const std::string& warning : result.warnings)
        err << "dialscope: warning: " << warning << "\n";
    if (result.status != ExportResult::Status::Done) {
        err << "dialscope: " << result.reason << "\n";
        return 1;
    }
    return 0;
}

int exportCommandMain(const QStringList& arguments, std::ostream& err) {
    std::string error;
    const auto command = parseExportCommand(arguments, error);
    if (!command) {
        err << "dialscope: " << error << "\n"
            << "usage: dialscope --export CLIP.avi [CLIP.avi ...] --to OUT.mp4|OUT.mkv"
               " [--from TIME --until TIME] [--title TEXT] [--no-caption]\n";
        return 2;
    }
    return runExportCommand(*command, err);
}

int runExportIfAsked(int& argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!isExportCommand(arguments))
        return -1;
    // The exporter reports what went wrong itself; FFmpeg's own log lines
    // and encoder statistics would only bury that.
    av_log_set_level(AV_LOG_QUIET);
    // No window is shown, so no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return exportCommandMain(QGuiApplication::arguments().mid(1), std::cerr);
}
