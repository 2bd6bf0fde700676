#pragma once

// The patrol's windows: Setup > Site patrol > Edit (which phone-book entries,
// in which order, and the schedule) and View > Patrol report (the last rounds
// read from their report.json files: per site reached or why not, per channel
// a thumbnail and the picture's time, failures in red; activating a channel
// opens its picture in the still viewer).
//
// The report window lists the rounds at once and loads the thumbnails on a
// worker of the global thread pool: at most kMaxThumbnails pictures, each
// file read only up to its size limit, scaled there; each thumbnail reaches
// the window by a queued call. Closing the window stops the worker after the
// picture under way; nothing is delivered to a window that is gone (the
// worker posts only while the window's link, guarded by a mutex, is set).

#include "PatrolReport.h"
#include "PatrolSettings.h"

#include <QDialog>

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
    std::optional<PatrolSettings> Values() const;
    void accept() override;

    // Runs the dialog over the stored patrol; true when OK stored a new one.
    static bool Run(QWidget* parent, AppStore& store);

private:
    void Move(int step);

    QListWidget* m_sites;
    QCheckBox* m_scheduled;
    QSpinBox* m_hours;
    QLineEdit* m_times;
    QSpinBox* m_record;
};

// The last `count` rounds under `recordFolder`, newest first.
std::vector<PatrolReport> LoadRecentPatrolReports(const std::string& recordFolder, int count);

class PatrolReportWindow : public QDialog {
    Q_OBJECT
public:
    PatrolReportWindow(std::vector<PatrolReport> reports, std::string recordFolder, DialogService& dialogs,
                       QWidget* parent = nullptr);
    ~PatrolReportWindow() override;
    QTreeWidget* Tree() const { return m_tree; }
    // Thumbnails asked of the worker and not yet shown.
    int PendingThumbnails() const { return m_pendingThumbnails; }
    static constexpr int kMaxThumbnails = 1000;
    // Opens the picture of a channel row in the still viewer; false for
    // other rows or a picture that cannot be read.
    bool OpenPicture(QTreeWidgetItem* item);

    static void Show(QWidget* parent, const std::string& recordFolder, DialogService& dialogs);

private:
    struct ThumbnailJob;
    void LoadThumbnails(std::vector<QString> paths);
    void ShowThumbnail(int index, const QImage& thumbnail);

    QTreeWidget* m_tree;
    std::string m_recordFolder;
    DialogService& m_dialogs;
    std::vector<QTreeWidgetItem*> m_thumbnailItems; // by the worker's index
    std::shared_ptr<ThumbnailJob> m_job;
    int m_pendingThumbnails = 0;
};
