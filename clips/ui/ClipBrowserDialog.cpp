#include "clips/ui/ClipBrowserDialog.h"

#include "app/core/WireText.h"
#include "clips/core/ClipCatalog.h"
#include "clips/core/ClipExportPlan.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipNames.h"
#include "clips/core/QueuedCatalogPost.h"
#include "clips/ui/ClipListWidget.h"
#include "clips/ui/ClipPlayback.h"
#include "clips/ui/SearchClipsDialog.h"
#include "platform/dialogs/DialogService.h"
#include "platform/export/ExportRunner.h"
#include "res/StringTable.h"
#include "video/ui/DibImage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <unistd.h>
#include <unordered_set>

namespace {

constexpr int kLabelRole = Qt::UserRole;

} // namespace

ClipPreviewFrame::ClipPreviewFrame(QWidget* parent)
    : QWidget(parent) {
    setMinimumSize(176, 132);
}

void ClipPreviewFrame::setPicture(QImage picture) {
    m_picture = std::move(picture);
    update();
}

void ClipPreviewFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    painter.setPen(Qt::black);
    painter.drawRect(r);
    painter.drawLine(r.topLeft(), r.bottomRight());
    painter.drawLine(r.bottomLeft(), r.topRight());
    if (!m_picture.isNull())
        painter.drawImage(rect(), m_picture);
}

ClipBrowserDialog::ClipBrowserDialog(ClipIndex& index, DialogService& dialogs, QWidget* parent,
                                     MediaPlayer::Clock playerClock)
    : QDialog(parent)
    , m_index(index)
    , m_dialogs(dialogs)
    , m_playerClock(std::move(playerClock))
    , m_tree(new QTreeWidget(this))
    , m_preview(new ClipPreviewFrame(this))
    , m_list(new ClipListWidget({tr("File name"), tr("Start time"), tr("Ending time"), tr("Path")},
                                {26, 18, 18, 30}, this))
    , m_total(new QLabel(this))
    , m_read(new QLabel(this))
    , m_unread(new QLabel(this)) {
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(font().pointSize());
    setFont(arial);
    setWindowTitle(loadString(IDS_VIDEO_CLIPS));

    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setRootIsDecorated(true);
    m_tree->setIconSize(QSize(16, 16));
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* play = new QPushButton(tr("&Play"), this);
    auto* remove = new QPushButton(tr("&Delete"), this);
    auto* search = new QPushButton(tr("&Search"), this);
    auto* exit = new QPushButton(tr("E&xit"), this);
    auto* exportButton = new QPushButton(tr("&Export..."), this);
    exportButton->setAutoDefault(false);
    play->setAutoDefault(false);
    remove->setAutoDefault(false);
    search->setAutoDefault(false);
    exit->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(m_tree, 1);
    top->addWidget(m_preview, 1);
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
    for (QPushButton* b : {play, remove, search, exportButton, exit})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 3);
    layout->addLayout(countsRow);
    layout->addWidget(m_list, 4);
    layout->addLayout(buttons);
    resize(640, 540);

    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &ClipBrowserDialog::fillList);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &ClipBrowserDialog::deleteNodeClips);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &ClipBrowserDialog::showPreview);
    connect(m_list, &ClipListWidget::leftDoubleClicked, this, &ClipBrowserDialog::play);
    connect(m_list, &ClipListWidget::rightDoubleClicked, this, &ClipBrowserDialog::deleteSelected);
    connect(play, &QPushButton::clicked, this, &ClipBrowserDialog::play);
    connect(remove, &QPushButton::clicked, this, &ClipBrowserDialog::deleteSelected);
    connect(search, &QPushButton::clicked, this, &ClipBrowserDialog::openSearch);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);
    connect(exportButton, &QPushButton::clicked, this, &ClipBrowserDialog::exportSelected);

    // Scrolling near the end of the list loads the next clips.
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        const QScrollBar* bar = m_list->verticalScrollBar();
        if (value + bar->pageStep() >= bar->maximum())
            loadMore();
    });

    // Opening never waits for the catalog: while it is read the tree says
    // so, and it fills in when the catalog arrives (and again whenever a
    // newer one replaces it).
    ensureQueuedCatalogPost(m_index);
    m_catalogListener = m_index.addCatalogListener([this] { catalogArrived(); });
    showCatalog();
}

class ClipBrowserDialog::Busy {
public:
    explicit Busy(ClipBrowserDialog& dialog)
        : m_dialog(dialog) {
        ++m_dialog.m_busy;
    }
    ~Busy() {
        if (--m_dialog.m_busy == 0 && m_dialog.m_refreshDue) {
            m_dialog.m_refreshDue = false;
            m_dialog.showCatalog();
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    ClipBrowserDialog& m_dialog;
};

void ClipBrowserDialog::catalogArrived() {
    if (m_busy > 0)
        m_refreshDue = true;
    else
        showCatalog();
}

void ClipBrowserDialog::showCatalog() {
    const ClipCatalog* catalog = m_index.currentCatalog();
    const std::string selected = m_loading ? std::string() : selectedLabel();
    const size_t loaded = m_loaded;
    // The operator's place in the list survives a newer catalog.
    std::unordered_set<std::string> chosenClips;
    for (const QTreeWidgetItem* item : m_list->selectedItems())
        chosenClips.insert(ClipListWidget::fileName(item));
    const std::string currentClip =
        m_list->currentItem() ? ClipListWidget::fileName(m_list->currentItem()) : std::string();
    const int scrolled = m_list->verticalScrollBar()->value();
    {
        const QSignalBlocker quiet(m_tree); // the list is filled below
        m_tree->clear();
    }
    m_loading = catalog == nullptr;
    if (m_loading) {
        auto* item = new QTreeWidgetItem({loadString(IDS_LOADING_CLIPS)});
        item->setFlags(Qt::NoItemFlags);
        m_tree->addTopLevelItem(item);
        m_list->clear();
        m_loaded = 0;
        return;
    }
    // A node per channel label of the catalog; clips load when a node is
    // chosen, a page at a time.
    const QIcon nodeIcon(QStringLiteral(":/images/channel_node.png"));
    QList<QTreeWidgetItem*> nodes;
    for (const ClipCatalog::Group& group : catalog->groups()) {
        if (group.entries.empty())
            continue;
        auto* node = new QTreeWidgetItem({WireText::toDisplay(group.label)});
        node->setData(0, kLabelRole, QByteArray::fromStdString(group.label));
        node->setIcon(0, nodeIcon);
        nodes.append(node);
    }
    m_tree->addTopLevelItems(nodes);
    m_tree->sortItems(0, Qt::AscendingOrder);
    if (selected.empty())
        return;
    // A newer catalog: the chosen node shows it, as many clips as before.
    {
        const QSignalBlocker quiet(m_tree);
        selectNode(selected);
    }
    fillList();
    while (m_loaded < loaded) {
        const size_t before = m_loaded;
        loadMore();
        if (m_loaded == before)
            break;
    }
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        const std::string name = ClipListWidget::fileName(item);
        if (name == currentClip)
            m_list->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        if (chosenClips.count(name))
            item->setSelected(true);
    }
    const QSignalBlocker quiet(m_list->verticalScrollBar()); // the pages are loaded already
    m_list->verticalScrollBar()->setValue(scrolled);
}

ClipBrowserDialog::~ClipBrowserDialog() {
    // The list's scroll bar moves while the children are destroyed; by then
    // this is no longer a browser to load clips into.
    m_list->verticalScrollBar()->disconnect(this);
    m_index.removeCatalogListener(m_catalogListener);
}

void ClipBrowserDialog::run(ClipIndex& index, DialogService& dialogs, QWidget* parent) {
    ClipBrowserDialog dialog(index, dialogs, parent);
    dialog.exec();
}

std::string ClipBrowserDialog::selectedLabel() const {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    return selected.isEmpty() ? std::string()
                              : selected.first()->data(0, kLabelRole).toByteArray().toStdString();
}

bool ClipBrowserDialog::selectNode(const std::string& label) {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = m_tree->topLevelItem(i);
        if (node->data(0, kLabelRole).toByteArray().toStdString() == label) {
            m_tree->setCurrentItem(node);
            node->setSelected(true);
            return true;
        }
    }
    return false;
}

QString ClipBrowserDialog::countTexts() const {
    return m_total->text() + QLatin1Char('|') + m_read->text() + QLatin1Char('|') + m_unread->text();
}

void ClipBrowserDialog::fillList() {
    m_list->clear();
    m_loaded = 0;
    const std::string label = selectedLabel();
    m_groups.clear(label);
    const ClipCatalog* catalog = m_index.currentCatalog();
    const std::optional<size_t> group = catalog ? catalog->findGroup(label) : std::nullopt;
    m_counts = group ? catalog->counts(*group) : ClipCounts{};
    loadMore();
    showCounts(m_counts, m_total, m_read, m_unread);
}

void ClipBrowserDialog::loadMore() {
    const std::string label = selectedLabel();
    const ClipCatalog* shown = m_index.currentCatalog();
    const std::optional<size_t> group = shown ? shown->findGroup(label) : std::nullopt;
    if (!group)
        return;
    const ClipCatalog& catalog = *shown;
    const size_t end = std::min(catalog.groups()[*group].entries.size(), m_loaded + kPageRows);
    if (m_loaded >= end)
        return;
    const ClipGroup* loaded = m_groups.find(label);
    const size_t first = loaded ? loaded->records.size() : 0;
    for (; m_loaded < end; ++m_loaded)
        m_groups.add(catalog.record(catalog.newest(*group, m_loaded)));
    loaded = m_groups.find(label);
    std::vector<const ClipRecord*> records;
    records.reserve(loaded->records.size() - first);
    for (size_t i = first; i < loaded->records.size(); ++i)
        records.push_back(&loaded->records[i]);
    const QSignalBlocker quiet(m_list->verticalScrollBar()); // no nested load
    m_list->addClips(records);
}

void ClipBrowserDialog::showPreview() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedInListOrder();
    if (selected.isEmpty())
        return;
    const ClipRecord* record =
        m_groups.findRecord(selectedLabel(), ClipListWidget::fileName(selected.first()));
    if (!record)
        return;
    switch (m_imagePreview.load(record->Path + record->ImageName)) {
    case ImagePreview::Load::Unchanged:
        return;
    case ImagePreview::Load::Loaded: {
        const auto decoded = m_imagePreview.decode();
        m_preview->setPicture(decoded ? dibToImage(*decoded) : QImage());
        return;
    }
    case ImagePreview::Load::Missing:
    case ImagePreview::Load::TooLong:
        m_preview->setPicture(QImage());
        return;
    }
}

void ClipBrowserDialog::play() {
    const Busy busy(*this);
    if (m_list->selectedInListOrder().isEmpty())
        return;
    const std::string label = selectedLabel();
    playSelectedClips(
        *m_list, [&](const QTreeWidgetItem*) { return label; }, m_groups, m_index, m_counts, this, m_dialogs,
        m_playerClock);
    showCounts(m_counts, m_total, m_read, m_unread);
}

namespace {

// Removes a clip's index entry and both its files; failures are ignored, so
// a clip whose files are already gone is removed all the same.
void deleteClip(ClipIndex& index, const std::string& folder, const std::string& name) {
    index.DeleteClipRecord(name);
    ::unlink((folder + name).c_str());
    ::unlink((folder + imageNameFor(name)).c_str());
}

} // namespace

void ClipBrowserDialog::deleteSelected() {
    const Busy busy(*this);
    const QList<QTreeWidgetItem*> selected = m_list->selectedInListOrder();
    if (selected.isEmpty())
        return;
    if (m_dialogs.message(this, loadString(IDP_DELETE_SELECTED), MessageButtons::OkCancel,
                          MessageIcon::Question) != MessageAnswer::Ok)
        return;
    const std::string label = selectedLabel();
    std::unordered_set<std::string> names;
    const QSignalBlocker quiet(m_list); // no preview per removed item
    for (QTreeWidgetItem* item : selected) {
        const std::string name = ClipListWidget::fileName(item);
        deleteClip(m_index, ClipListWidget::folder(item), name);
        names.insert(name);
        --m_counts.total;
        --m_loaded;
        delete item;
    }
    m_counts.read -= m_groups.removeRecords(label, names);
    showCounts(m_counts, m_total, m_read, m_unread);
}

void ClipBrowserDialog::deleteNodeClips() {
    const Busy busy(*this);
    if (m_tree->selectedItems().isEmpty() || m_list->topLevelItemCount() == 0)
        return;
    const std::string label = selectedLabel();
    if (m_dialogs.message(this, loadString(IDP_DELETE_SELECTED), MessageButtons::OkCancel,
                          MessageIcon::Question) != MessageAnswer::Ok)
        return;
    // Every clip of the node, also those not loaded into the list yet.
    std::vector<std::pair<std::string, std::string>> clips; // folder, name
    if (const ClipCatalog* catalog = m_index.currentCatalog())
        if (const std::optional<size_t> group = catalog->findGroup(label))
            for (ClipCatalog::Entry entry : catalog->groups()[*group].entries) {
                const ClipRecord record = catalog->record(entry);
                clips.emplace_back(record.Path, record.FileName);
            }
    for (const auto& [folder, name] : clips)
        deleteClip(m_index, folder, name);
    m_groups.clear(label);
    m_loaded = 0;
    m_list->clear();
    m_counts = {};
    showCounts(m_counts, m_total, m_read, m_unread);
}

void ClipBrowserDialog::openSearch() {
    const Busy busy(*this);
    SearchClipsDialog search(m_groups, m_index, m_dialogs, this, m_playerClock);
    search.exec();
}

void ClipBrowserDialog::exportSelected() {
    const Busy busy(*this);
    const QList<QTreeWidgetItem*> selected = m_list->selectedInListOrder();
    if (selected.isEmpty())
        return;
    const std::string label = selectedLabel();
    std::vector<const ClipRecord*> records;
    for (const QTreeWidgetItem* item : selected)
        if (const ClipRecord* record = m_groups.findRecord(label, ClipListWidget::fileName(item)))
            records.push_back(record);
    exportClipsInteractive(this, m_dialogs, exportPlanForClips(records, label));
}
