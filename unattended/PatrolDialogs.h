#pragma once

// The patrol's windows: Setup > Site patrol > Edit (which phone-book entries,
// in which order, and the schedule) and View > Patrol report (the last rounds
// read from their report.json files: per site reached or why not, per channel
// a thumbnail and the picture's time, failures in red; activating a channel
// opens its picture in the still viewer).
//
// The report window opens at once; all its file work runs on workers of the
// global thread pool, so a hung record volume never holds up the window:
// resolving the record folder and reading the last rounds' report.json files
// (then the rounds are listed), the thumbnails (at most kMaxThumbnails
// pictures, each file read only up to its size limit, scaled there) and the
// picture a click opens. Each result reaches the window by a queued call.
// Closing the window stops the workers after the file under way; nothing is
// delivered to a window that is gone (a worker posts only while the window's
// link, guarded by a mutex, is set).

#include "unattended/PatrolReport.h"
#include "unattended/PatrolSettings.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AppStore;
class DialogService;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

class PatrolSetupDialog : public QDialog {
    Q_OBJECT
public:
    PatrolSetupDialog(const PatrolSettings& values, const QStringList& phoneBook, QWidget* parent = nullptr);
    // The values shown; nothing while the times field holds no valid times.
    std::optional<PatrolSettings> values() const;
    void accept() override;

    // Runs the dialog over the stored patrol; true when OK stored a new one.
    static bool run(QWidget* parent, AppStore& store);

private:
    void moveSite(int step);

    QListWidget* m_sites;
    QCheckBox* m_scheduled;
    QSpinBox* m_hours;
    QLineEdit* m_times;
    QSpinBox* m_record;
};

// The last `count` rounds under `recordFolder`, newest first. Reads files:
// never on the UI thread. Stops early (with what it has) once `*abort` is set.
std::vector<PatrolReport> loadRecentPatrolReports(const std::string& recordFolder, int count,
                                                  const std::atomic<bool>* abort = nullptr);

class PatrolReportWindow : public QDialog {
    Q_OBJECT
public:
    // What a stored record folder stands for on disk; called on a worker.
    using Resolver = std::function<std::string(const std::string&)>;

    // Lists `reports`, found under the resolved `recordFolder`.
    PatrolReportWindow(std::vector<PatrolReport> reports, std::string recordFolder, DialogService& dialogs,
                       QWidget* parent = nullptr);
    // Empty at first; the last kRecentRounds rounds under what `resolve`
    // makes of `storedFolder` are read on a worker and listed when read.
    PatrolReportWindow(const std::string& storedFolder, Resolver resolve, DialogService& dialogs,
                       QWidget* parent = nullptr);
    ~PatrolReportWindow() override;
    QTreeWidget* tree() const { return m_tree; }
    // True once the rounds are listed.
    bool loaded() const { return m_loaded; }
    // Thumbnails asked of the worker and not yet shown.
    int pendingThumbnails() const { return m_pendingThumbnails; }
    static constexpr int kMaxThumbnails = 1000;
    static constexpr int kRecentRounds = 10;
    // Opens the picture of a channel row in the still viewer once a worker
    // has read it; false for other rows. A picture that cannot be read opens
    // nothing.
    bool openPicture(QTreeWidgetItem* item);

    // Opens the window over the record folder's stored text.
    static void showReport(QWidget* parent, const std::string& storedFolder, DialogService& dialogs);

private:
    struct ThumbnailJob;
    void build();
    void list(std::vector<PatrolReport> reports);
    void loadThumbnails(std::vector<QString> paths);
    void showThumbnail(int index, const QImage& thumbnail);
    void showPicture(const QString& title, const QByteArray& bytes);

    QTreeWidget* m_tree;
    std::string m_recordFolder;
    DialogService& m_dialogs;
    std::vector<QTreeWidgetItem*> m_thumbnailItems; // by the worker's index
    std::shared_ptr<ThumbnailJob> m_job;
    bool m_loaded = false;
    int m_pendingThumbnails = 0;
};
