#include "unattended/PatrolDialogs.h"

#include "app/core/AppStore.h"
#include "video/ui/StillViewer.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QThreadPool>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <atomic>
#include <mutex>

namespace {

constexpr int kFileRole = Qt::UserRole + 1;
constexpr qint64 kMaxReportBytes = 4 << 20;
constexpr qint64 kMaxPictureBytes = 16 << 20;

const QSize kThumbnailSize(80, 60);

} // namespace

// What the window and its worker share. The worker posts to `window` only
// while holding `lock` and only while it is set; the window clears it (under
// the lock) as it goes, so no call is posted to a window that is gone.
struct PatrolReportWindow::ThumbnailJob {
    std::mutex lock;
    PatrolReportWindow* window = nullptr;
    std::atomic<bool> abort{false};

    // Runs `call(window)` on the window's thread, unless the window is gone.
    template <typename Call> void post(Call call) {
        std::lock_guard guard(lock);
        if (window)
            QMetaObject::invokeMethod(
                window, [target = window, call = std::move(call)]() mutable { call(target); },
                Qt::QueuedConnection);
    }
};

PatrolSetupDialog::PatrolSetupDialog(const PatrolSettings& values, const QStringList& phoneBook,
                                     QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Site patrol"));
    setObjectName(QStringLiteral("patrolSetupDialog"));
    auto* layout = new QVBoxLayout(this);

    // The patrol's entries first, in their order, then the rest of the phone book.
    m_sites = new QListWidget(this);
    m_sites->setObjectName(QStringLiteral("patrolSites"));
    QStringList order;
    for (const QString& name : values.entries) {
        if (phoneBook.contains(name, Qt::CaseInsensitive))
            order.append(name);
    }
    for (const QString& name : phoneBook) {
        if (!order.contains(name, Qt::CaseInsensitive))
            order.append(name);
    }
    for (const QString& name : order) {
        auto* item = new QListWidgetItem(name, m_sites);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(values.entries.contains(name, Qt::CaseInsensitive) ? Qt::Checked : Qt::Unchecked);
    }
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_sites, 1);
    auto* buttons = new QVBoxLayout;
    auto* up = new QPushButton(tr("&Up"), this);
    auto* down = new QPushButton(tr("&Down"), this);
    up->setObjectName(QStringLiteral("patrolUp"));
    down->setObjectName(QStringLiteral("patrolDown"));
    connect(up, &QPushButton::clicked, this, [this] { moveSite(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveSite(1); });
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch();
    listRow->addLayout(buttons);
    layout->addLayout(listRow);

    auto* form = new QFormLayout;
    m_scheduled = new QCheckBox(tr("Run rounds on a schedule"), this);
    m_scheduled->setObjectName(QStringLiteral("patrolScheduled"));
    m_scheduled->setChecked(values.scheduled);
    form->addRow(m_scheduled);
    m_hours = new QSpinBox(this);
    m_hours->setObjectName(QStringLiteral("patrolHours"));
    m_hours->setRange(0, PatrolSettings::kMaxHours);
    m_hours->setSpecialValueText(tr("at the times below"));
    m_hours->setValue(values.everyHours);
    form->addRow(tr("Every (hours):"), m_hours);
    m_times = new QLineEdit(PatrolSettings::formatTimes(values.times), this);
    m_times->setObjectName(QStringLiteral("patrolTimes"));
    m_times->setPlaceholderText(QStringLiteral("08:00 20:00"));
    form->addRow(tr("Times of day:"), m_times);
    m_record = new QSpinBox(this);
    m_record->setObjectName(QStringLiteral("patrolRecordSeconds"));
    m_record->setRange(0, PatrolSettings::kMaxRecordSeconds);
    m_record->setSpecialValueText(tr("no recording"));
    m_record->setValue(values.recordSeconds);
    form->addRow(tr("Record each channel (seconds):"), m_record);
    layout->addLayout(form);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &PatrolSetupDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
}

void PatrolSetupDialog::moveSite(int step) {
    const int row = m_sites->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= m_sites->count())
        return;
    QListWidgetItem* item = m_sites->takeItem(row);
    m_sites->insertItem(to, item);
    m_sites->setCurrentRow(to);
}

std::optional<PatrolSettings> PatrolSetupDialog::values() const {
    const std::optional<QList<QTime>> times = PatrolSettings::parseTimes(m_times->text());
    if (!times)
        return std::nullopt;
    PatrolSettings values;
    for (int row = 0; row < m_sites->count(); ++row) {
        if (m_sites->item(row)->checkState() == Qt::Checked)
            values.entries.append(m_sites->item(row)->text());
    }
    values.scheduled = m_scheduled->isChecked();
    values.everyHours = m_hours->value();
    values.times = *times;
    values.recordSeconds = m_record->value();
    return values;
}

void PatrolSetupDialog::accept() {
    if (!values()) {
        m_times->setFocus();
        m_times->selectAll();
        return;
    }
    QDialog::accept();
}

bool PatrolSetupDialog::run(QWidget* parent, AppStore& store) {
    std::vector<PhoneEntry> book;
    store.LoadPhoneBook(book);
    QStringList names;
    for (const PhoneEntry& entry : book)
        names.append(QString::fromStdString(entry.Name));
    PatrolSetupDialog dialog(PatrolSettings::read(store), names, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const std::optional<PatrolSettings> values = dialog.values();
    return values && values->store(store);
}

std::vector<PatrolReport> loadRecentPatrolReports(const std::string& recordFolder, int count,
                                                  const std::atomic<bool>* abort) {
    std::vector<PatrolReport> reports;
    const QDir patrol(QString::fromStdString(recordFolder) + QStringLiteral("patrol"));
    const QStringList rounds =
        patrol.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& round : rounds) {
        if (int(reports.size()) >= count || (abort && *abort))
            break;
        QFile file(patrol.filePath(round + QStringLiteral("/report.json")));
        if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxReportBytes)
            continue;
        PatrolReport report = PatrolReport::fromJson(file.read(kMaxReportBytes));
        if (report.finished)
            reports.push_back(std::move(report));
    }
    return reports;
}

PatrolReportWindow::PatrolReportWindow(std::vector<PatrolReport> reports, std::string recordFolder,
                                       DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_recordFolder(std::move(recordFolder))
    , m_dialogs(dialogs) {
    build();
    list(std::move(reports));
}

PatrolReportWindow::PatrolReportWindow(const std::string& storedFolder, Resolver resolve,
                                       DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_dialogs(dialogs) {
    build();
    QThreadPool::globalInstance()->start([job = m_job, storedFolder, resolve = std::move(resolve)] {
        std::string folder = resolve ? resolve(storedFolder) : storedFolder;
        if (job->abort)
            return;
        std::vector<PatrolReport> reports = loadRecentPatrolReports(folder, kRecentRounds, &job->abort);
        job->post(
            [folder = std::move(folder), reports = std::move(reports)](PatrolReportWindow* window) mutable {
                window->m_recordFolder = std::move(folder);
                window->list(std::move(reports));
            });
    });
}

void PatrolReportWindow::build() {
    setWindowTitle(tr("Patrol report"));
    setObjectName(QStringLiteral("patrolReport"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_job = std::make_shared<ThumbnailJob>();
    m_job->window = this;
    auto* layout = new QVBoxLayout(this);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("patrolTree"));
    m_tree->setHeaderLabels({tr("Round / site / channel"), tr("Result"), tr("Time")});
    m_tree->setIconSize(kThumbnailSize);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_tree);
    connect(m_tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { openPicture(item); });
    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { openPicture(item); });
    resize(640, 480);
}

void PatrolReportWindow::list(std::vector<PatrolReport> reports) {
    m_loaded = true;
    const QBrush failed(Qt::red);
    std::vector<QString> thumbnails;
    for (const PatrolReport& report : reports) {
        auto* round =
            new QTreeWidgetItem(m_tree, {report.started.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                                         report.allReached() ? tr("all reached") : tr("sites missed")});
        if (!report.allReached())
            round->setForeground(1, failed);
        for (const PatrolSiteResult& site : report.sites) {
            auto* siteItem = new QTreeWidgetItem(round, {site.name, site.result});
            if (!site.reached) {
                siteItem->setForeground(0, failed);
                siteItem->setForeground(1, failed);
            }
            for (const PatrolChannelResult& channel : site.channels) {
                auto* item = new QTreeWidgetItem(
                    siteItem,
                    {QStringLiteral("%1 %2").arg(channel.channel, 4, 10, QLatin1Char('0')).arg(channel.name),
                     channel.result, channel.frameTime.toString(QStringLiteral("hh:mm:ss"))});
                if (channel.file.isEmpty()) {
                    item->setForeground(1, failed);
                    continue;
                }
                item->setData(0, kFileRole, channel.file);
                if (int(thumbnails.size()) < kMaxThumbnails) {
                    thumbnails.push_back(QString::fromStdString(m_recordFolder) + channel.file);
                    m_thumbnailItems.push_back(item);
                }
            }
        }
        round->setExpanded(true);
    }
    loadThumbnails(std::move(thumbnails));
}

PatrolReportWindow::~PatrolReportWindow() {
    m_job->abort = true;
    std::lock_guard guard(m_job->lock); // waits at most for a post under way
    m_job->window = nullptr;
}

void PatrolReportWindow::loadThumbnails(std::vector<QString> paths) {
    if (paths.empty())
        return;
    m_pendingThumbnails += int(paths.size());
    QThreadPool::globalInstance()->start([job = m_job, paths = std::move(paths)] {
        for (size_t index = 0; index < paths.size() && !job->abort; ++index) {
            QImage thumbnail;
            QFile file(paths[index]);
            if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxPictureBytes) {
                const QImage picture = QImage::fromData(file.read(kMaxPictureBytes));
                if (!picture.isNull())
                    thumbnail = picture.scaled(kThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            }
            job->post([index, thumbnail](PatrolReportWindow* window) {
                window->showThumbnail(int(index), thumbnail);
            });
        }
    });
}

void PatrolReportWindow::showThumbnail(int index, const QImage& thumbnail) {
    --m_pendingThumbnails;
    if (index < 0 || size_t(index) >= m_thumbnailItems.size() || thumbnail.isNull())
        return;
    m_thumbnailItems[size_t(index)]->setIcon(0, QIcon(QPixmap::fromImage(thumbnail)));
}

bool PatrolReportWindow::openPicture(QTreeWidgetItem* item) {
    const QString file = item ? item->data(0, kFileRole).toString() : QString();
    if (file.isEmpty())
        return false;
    QThreadPool::globalInstance()->start(
        [job = m_job, path = QString::fromStdString(m_recordFolder) + file, title = item->text(0)] {
            QFile bitmap(path);
            if (!bitmap.open(QIODevice::ReadOnly) || bitmap.size() > kMaxPictureBytes)
                return;
            QByteArray bytes = bitmap.read(kMaxPictureBytes);
            job->post([title, bytes = std::move(bytes)](PatrolReportWindow* window) {
                window->showPicture(title, bytes);
            });
        });
    return true;
}

void PatrolReportWindow::showPicture(const QString& title, const QByteArray& bytes) {
    if (bytes.size() <= 14)
        return;
    // The still viewer takes the picture without the file header.
    const auto* dib = reinterpret_cast<const uint8_t*>(bytes.constData()) + 14;
    StillViewer* viewer =
        StillViewer::create(std::span<const uint8_t>(dib, size_t(bytes.size() - 14)), nullptr, title,
                            parentWidget() ? parentWidget() : this, m_dialogs);
    if (!viewer)
        return;
    viewer->sizeToImage();
    viewer->show();
}

void PatrolReportWindow::showReport(QWidget* parent, const std::string& storedFolder,
                                    DialogService& dialogs) {
    auto* window = new PatrolReportWindow(storedFolder, &AppStore::resolveRecordPath, dialogs, parent);
    window->show();
}
