#include "platform/export/ExportRunner.h"

#include "platform/dialogs/DialogService.h"
#include "platform/export/ExportJob.h"
#include "res/StringTable.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProgressDialog>

Q_LOGGING_CATEGORY(lcExport, "dialscope.export")

namespace {

QString timeLeftText(int seconds) {
    if (seconds < 0)
        return loadString(IDS_EXPORT_TIME_UNKNOWN);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString exportDefaultName(const ExportPlan& plan) {
    QString name;
    for (const QChar c : QString::fromStdString(plan.title))
        if (c.isLetterOrNumber())
            name += c;
    int64_t start = plan.clips.empty() ? 0 : plan.clips.front().startMs;
    for (const ExportClip& clip : plan.clips)
        start = std::min(start, clip.startMs);
    if (plan.fromMs)
        start = std::max(start, *plan.fromMs);
    const QString stamp = QDateTime::fromMSecsSinceEpoch(start).toString(QStringLiteral("yyyyMMdd-hhmmss"));
    return name.isEmpty() ? stamp : name + QLatin1Char('-') + stamp;
}

ExportFormat exportFormatFor(const QString& fileName) {
    return fileName.endsWith(QStringLiteral(".mkv"), Qt::CaseInsensitive) ? ExportFormat::MkvCopy
                                                                          : ExportFormat::Mp4H264;
}

ExportResult::Status exportClipsInteractive(QWidget* parent, DialogService& dialogs, const ExportPlan& plan) {
    if (plan.clips.empty()) {
        dialogs.notice(parent, loadString(IDP_EXPORT_NO_FOOTAGE));
        return ExportResult::Status::NothingToExport;
    }
    FileDialogRequest ask;
    ask.title = loadString(IDS_EXPORT_TITLE);
    ask.defaultName = exportDefaultName(plan);
    ask.defaultSuffix = QStringLiteral("mp4");
    ask.filter = loadString(IDS_EXPORT_FILTER);
    ask.confirmOverwrite = true;
    const QString fileName = dialogs.saveFileName(parent, ask);
    if (fileName.isEmpty())
        return ExportResult::Status::Cancelled;

    ExportRequest request;
    request.clips = plan.clips;
    request.outputPath = QFile::encodeName(fileName).toStdString();
    request.format = exportFormatFor(fileName);
    request.fromMs = plan.fromMs;
    request.untilMs = plan.untilMs;
    request.title = plan.title;
    request.caption = true;

    ExportJob job(std::move(request));
    QProgressDialog progress(parent);
    progress.setWindowTitle(loadString(IDS_EXPORT_TITLE));
    progress.setWindowModality(Qt::WindowModal);
    progress.setRange(0, 100);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    const QString label = QString::fromStdString(plan.title);
    progress.setLabelText(loadString(IDS_EXPORT_PROGRESS).arg(label).arg(0).arg(timeLeftText(-1)));
    QObject::connect(&job, &ExportJob::progressed, &progress, [&](int percent, int secondsLeft) {
        progress.setValue(percent);
        progress.setLabelText(
            loadString(IDS_EXPORT_PROGRESS).arg(label).arg(percent).arg(timeLeftText(secondsLeft)));
    });
    QObject::connect(&progress, &QProgressDialog::canceled, &job, &ExportJob::cancel);
    QEventLoop wait;
    QObject::connect(&job, &ExportJob::finished, &wait, &QEventLoop::quit);
    job.start();
    progress.show();
    wait.exec();
    progress.hide();

    const ExportResult& result = job.result();
    for (const std::string& warning : result.warnings)
        qCWarning(lcExport) << "export:" << QString::fromStdString(warning);
    switch (result.status) {
    case ExportResult::Status::Done:
        dialogs.notice(parent, loadString(IDP_EXPORT_OK));
        break;
    case ExportResult::Status::NothingToExport:
        dialogs.notice(parent, loadString(IDP_EXPORT_NO_FOOTAGE));
        break;
    case ExportResult::Status::Failed:
        qCWarning(lcExport) << "export failed:" << QString::fromStdString(result.reason);
        dialogs.notice(parent, loadString(IDP_EXPORT_FAILED));
        break;
    case ExportResult::Status::Cancelled:
        break;
    }
    return result.status;
}
