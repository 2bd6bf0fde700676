#include "clips/ui/SearchClipsDialog.h"

#include "app/core/WireText.h"
#include "clips/core/ClipCatalog.h"
#include "clips/core/ClipExportPlan.h"
#include "clips/core/ClipSearch.h"
#include "clips/core/QueuedCatalogPost.h"
#include "clips/ui/ClipListWidget.h"
#include "clips/ui/ClipPlayback.h"
#include "platform/dialogs/DialogService.h"
#include "platform/export/ExportRunner.h"
#include "res/StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

constexpr int kLabelRole = Qt::UserRole;

std::string bound(const QDateEdit* date, const QTimeEdit* time) {
    const QDate d = date->date();
    const QTime t = time->time();
    return searchBound(d.year(), d.month(), d.day(), t.hour(), t.minute());
}

} // namespace

SearchClipsDialog::SearchClipsDialog(ClipGroupList& groups, ClipIndex& index, DialogService& dialogs,
                                     QWidget* parent, MediaPlayer::Clock playerClock)
    : QDialog(parent)
    , m_groups(groups)
    , m_index(index)
    , m_dialogs(dialogs)
    , m_playerClock(std::move(playerClock))
    , m_channel(new QComboBox(this))
    , m_after(new QCheckBox(tr("After date:"), this))
    , m_lowerDate(new QDateEdit(this))
    , m_lowerTime(new QTimeEdit(this))
    , m_before(new QCheckBox(tr("Before date:"), this))
    , m_upperDate(new QDateEdit(this))
    , m_upperTime(new QTimeEdit(this))
    , m_list(new ClipListWidget(
          {tr("File name"), tr("start time"), tr("Ending time"), tr("Path"), tr("Channel")},
          {26, 18, 18, 30, 30}, this))
    , m_total(new QLabel(this))
    , m_read(new QLabel(this))
    , m_unread(new QLabel(this)) {
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(font().pointSize());
    setFont(arial);
    setWindowTitle(tr("Search video clips"));

    m_channel->addItem(tr("All video channel"));
    m_channel->setCurrentIndex(0);

    const QDate today = QDate::currentDate();
    for (QDateEdit* date : {m_lowerDate, m_upperDate}) {
        date->setDisplayFormat(QStringLiteral("yyyy / MM / dd"));
        date->setCalendarPopup(true);
        date->setDate(today);
    }
    for (QTimeEdit* time : {m_lowerTime, m_upperTime})
        time->setDisplayFormat(QStringLiteral("HH : mm"));
    m_lowerTime->setTime(QTime(0, 0));
    m_upperTime->setTime(QTime(23, 59));
    enablePickers();

    auto* searchButton = m_searchButton = new QPushButton(tr("&Search"), this);
    auto* exitButton = new QPushButton(tr("E&xit"), this);
    auto* exportButton = new QPushButton(tr("&Export..."), this);
    auto* rangeButton = new QPushButton(tr("Export &range..."), this);
    searchButton->setAutoDefault(false);
    exitButton->setAutoDefault(false);
    exportButton->setAutoDefault(false);
    rangeButton->setAutoDefault(false);

    auto* dates = new QGroupBox(tr("Search date"), this);
    auto* grid = new QGridLayout(dates);
    grid->addWidget(m_after, 0, 0);
    grid->addWidget(m_lowerDate, 0, 1);
    grid->addWidget(m_lowerTime, 0, 2);
    grid->addWidget(m_before, 1, 0);
    grid->addWidget(m_upperDate, 1, 1);
    grid->addWidget(m_upperTime, 1, 2);

    auto* countsRow = new QHBoxLayout;
    for (auto [caption, value] :
         {std::pair{tr("Video clips:"), m_total}, {tr("Read:"), m_read}, {tr("Unread:"), m_unread}}) {
        countsRow->addWidget(new QLabel(caption, this));
        countsRow->addWidget(value);
        countsRow->addSpacing(12);
    }
    countsRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(searchButton);
    buttons->addWidget(exportButton);
    buttons->addWidget(rangeButton);
    buttons->addWidget(exitButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Please select video channel:"), this));
    layout->addWidget(m_channel);
    layout->addWidget(dates);
    layout->addLayout(buttons);
    layout->addLayout(countsRow);
    layout->addWidget(m_list, 1);
    resize(680, 560);

    connect(m_after, &QCheckBox::toggled, this, &SearchClipsDialog::enablePickers);
    connect(m_before, &QCheckBox::toggled, this, &SearchClipsDialog::enablePickers);
    connect(searchButton, &QPushButton::clicked, this, &SearchClipsDialog::search);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(exportButton, &QPushButton::clicked, this, &SearchClipsDialog::exportSelected);
    connect(rangeButton, &QPushButton::clicked, this, &SearchClipsDialog::exportRange);
    connect(m_list, &ClipListWidget::leftDoubleClicked, this, &SearchClipsDialog::openSelected);
    connect(m_list, &ClipListWidget::enterPressed, this, &SearchClipsDialog::openSelected);

    // The channels come from the catalog; until it is read the dialog says
    // so and cannot search, and it fills in when the catalog arrives.
    ensureQueuedCatalogPost(m_index);
    m_catalogListener = m_index.addCatalogListener([this] { showChannels(); });
    showChannels();
}

SearchClipsDialog::~SearchClipsDialog() {
    m_index.removeCatalogListener(m_catalogListener);
}

void SearchClipsDialog::showChannels() {
    const ClipCatalog* catalog = m_index.currentCatalog();
    const QByteArray chosen = m_channel->currentData(kLabelRole).toByteArray();
    while (m_channel->count() > 1)
        m_channel->removeItem(1);
    const bool wasLoading = m_loading;
    m_loading = catalog == nullptr;
    m_searchButton->setEnabled(!m_loading);
    if (m_loading || wasLoading) // results shown stay until the next search
        m_total->setText(m_loading ? loadString(IDS_LOADING_CLIPS) : QString());
    if (m_loading)
        return;
    for (const ClipCatalog::Group& group : catalog->groups())
        m_channel->addItem(WireText::toDisplay(group.label), QByteArray::fromStdString(group.label));
    const int keep = chosen.isEmpty() ? 0 : m_channel->findData(chosen, kLabelRole);
    m_channel->setCurrentIndex(keep < 0 ? 0 : keep);
}

void SearchClipsDialog::enablePickers() {
    m_lowerDate->setEnabled(m_after->isChecked());
    m_lowerTime->setEnabled(m_after->isChecked());
    m_upperDate->setEnabled(m_before->isChecked());
    m_upperTime->setEnabled(m_before->isChecked());
}

QString SearchClipsDialog::countTexts() const {
    return m_total->text() + QLatin1Char('|') + m_read->text() + QLatin1Char('|') + m_unread->text();
}

void SearchClipsDialog::search() {
    const int entry = m_channel->currentIndex();
    const ClipCatalog* shown = m_index.currentCatalog();
    if (entry < 0 || !shown)
        return;
    const ClipCatalog& catalog = *shown;
    std::optional<size_t> group;
    bool found = true;
    if (entry > 0) {
        group = catalog.findGroup(m_channel->itemData(entry, kLabelRole).toByteArray().toStdString());
        found = group.has_value();
    }
    m_counts = {};
    m_list->clear();
    m_hits = {};

    const SearchFilter filter{m_after->isChecked(), bound(m_lowerDate, m_lowerTime), m_before->isChecked(),
                              bound(m_upperDate, m_upperTime)};
    if (found) {
        // The hits' records are kept here, by label, for the players.
        const auto hits = catalog.search(group, filter);
        std::vector<std::string> labels;
        for (const ClipCatalog::Hit& hit : hits) {
            m_hits.add(catalog.record(hit.entry));
            m_counts.read += catalog.isRead(hit.entry);
            if (!group)
                labels.push_back(catalog.groups()[hit.group].label);
        }
        std::vector<const ClipRecord*> records;
        records.reserve(hits.size());
        for (const ClipGroup& g : m_hits.groups())
            for (const ClipRecord& r : g.records)
                records.push_back(&r);
        // Hits were added group by group, so the records are in hit order.
        m_list->addClips(records, labels);
    }
    m_counts.total = m_list->topLevelItemCount();
    showCounts(m_counts, m_total, m_read, m_unread);
}

void SearchClipsDialog::openSelected() {
    if (m_list->selectedInListOrder().isEmpty())
        return;
    const int entry = m_channel->currentIndex();
    const std::string chosen = m_channel->itemData(entry, kLabelRole).toByteArray().toStdString();
    const auto labelOf = [&](const QTreeWidgetItem* item) {
        return entry == 0 ? ClipListWidget::channelLabel(item) : chosen;
    };
    playSelectedClips(*m_list, labelOf, m_hits, m_index, m_counts, this, m_dialogs, m_playerClock);
    // The browser's loaded clips follow the players opened here.
    for (const ClipGroup& g : m_hits.groups())
        for (const ClipRecord& r : g.records)
            if (r.Open == 1)
                if (ClipRecord* shown = m_groups.findRecord(g.label, r.FileName))
                    shown->Open = 1;
    showCounts(m_counts, m_total, m_read, m_unread);
}

void SearchClipsDialog::exportSelected() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedInListOrder();
    if (selected.isEmpty())
        return;
    const int entry = m_channel->currentIndex();
    const std::string chosen = m_channel->itemData(entry, kLabelRole).toByteArray().toStdString();
    std::string label;
    std::vector<const ClipRecord*> records;
    for (const QTreeWidgetItem* item : selected) {
        const std::string itemLabel = entry == 0 ? ClipListWidget::channelLabel(item) : chosen;
        if (!records.empty() && itemLabel != label) {
            m_dialogs.notice(this, loadString(IDP_EXPORT_ONE_CHANNEL));
            return;
        }
        label = itemLabel;
        if (const ClipRecord* record = m_groups.findRecord(label, ClipListWidget::fileName(item)))
            records.push_back(record);
    }
    exportClipsInteractive(this, m_dialogs, exportPlanForClips(records, label));
}

void SearchClipsDialog::exportRange() {
    const int entry = m_channel->currentIndex();
    const ClipGroup* group =
        entry > 0 ? m_groups.find(m_channel->itemData(entry, kLabelRole).toByteArray().toStdString())
                  : nullptr;
    const auto boundMs = [](const QDateEdit* date, const QTimeEdit* time) {
        const QTime t = time->time();
        return QDateTime(date->date(), QTime(t.hour(), t.minute())).toMSecsSinceEpoch();
    };
    const int64_t from = boundMs(m_lowerDate, m_lowerTime);
    const int64_t until = boundMs(m_upperDate, m_upperTime);
    if (!group || !m_after->isChecked() || !m_before->isChecked() || until <= from) {
        m_dialogs.notice(this, loadString(IDP_EXPORT_NEED_RANGE));
        return;
    }
    exportClipsInteractive(this, m_dialogs, exportPlanForRange(*group, from, until));
}
