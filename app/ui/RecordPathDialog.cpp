#include "app/ui/RecordPathDialog.h"

#include "app/core/AppStore.h"
#include "app/core/RegistryLayout.h"
#include "app/ui/DialogControls.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace DialogControls;

namespace {

constexpr int kNodeRole = Qt::UserRole;

const QIcon& imageIcon(FolderImage image) {
    static const QIcon icons[] = {untintedIcon(QStringLiteral(":/images/drive_local.png")),
                                  untintedIcon(QStringLiteral(":/images/drive_network.png")),
                                  untintedIcon(QStringLiteral(":/images/folder.png"))};
    return icons[int(image)];
}

// The folder as stored: the current directory when empty, always ending with "/".
std::string asRecordFolder(std::string path) {
    if (path.empty())
        path = fromQt(QDir::currentPath());
    if (!path.ends_with('/'))
        path.push_back('/');
    return path;
}

} // namespace

RecordPathDialog::RecordPathDialog(AppStore& store, QWidget* parent, std::vector<Volume> volumes,
                                   FolderTree::Lister lister)
    : QDialog(parent)
    , m_store(store)
    , m_path(store.GetRecordPath())
    , m_tree(std::move(lister)) {
    setWindowTitle(tr("Setup video record path"));

    m_view = new QTreeWidget(this);
    m_view->setObjectName(QStringLiteral("tree1029"));
    m_view->setHeaderHidden(true);
    m_view->setColumnCount(1);
    m_view->setIconSize(QSize(16, 16));
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_view->header()->setStretchLastSection(false);
    m_view->installEventFilter(this);
    m_view->setMinimumSize(averageCharWidths(this, 45), fontMetrics().height() * 16);

    m_pathLabel = new QLabel(tr("Path"), this);
    m_pathLabel->setObjectName(QStringLiteral("label1081"));
    m_pathLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pathLabel->setAutoFillBackground(true);
    QPalette palette = m_pathLabel->palette();
    palette.setColor(QPalette::Window, QColor(128, 128, 128));
    palette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    m_pathLabel->setPalette(palette);
    m_pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    QPushButton* ok = makeButton(this, tr("&OK"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &RecordPathDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &RecordPathDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addWidget(new QLabel(tr("Current path:"), this));
    layout->addWidget(m_pathLabel);
    layout->addLayout(buttons);

    m_tree.setFilledObserver([this](FolderNode* node) { addChildItems(node); });
    m_tree.setSelectedObserver([this](FolderNode* node) { showSelection(node); });
    m_tree.setRoots(volumes);
    for (const auto& root : m_tree.roots()) {
        auto* item = new QTreeWidgetItem(m_view, {toQt(root->text)});
        item->setIcon(0, imageIcon(root->image));
        item->setData(0, kNodeRole, QVariant::fromValue<quintptr>(quintptr(root.get())));
        m_items[root.get()] = item;
    }

    connect(m_view, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (!m_syncing)
            m_tree.select(nodeOf(current));
    });
    // Runs before the view's own double-click handling, which then opens the
    // freshly filled item.
    connect(m_view, &QTreeWidget::itemDoubleClicked, this, [this] { fillCurrent(); });

    m_tree.selectAlongPath(asRecordFolder(m_path));
}

FolderNode* RecordPathDialog::nodeOf(QTreeWidgetItem* item) const {
    return item ? reinterpret_cast<FolderNode*>(item->data(0, kNodeRole).value<quintptr>()) : nullptr;
}

void RecordPathDialog::addChildItems(FolderNode* node) {
    QTreeWidgetItem* parent = m_items.at(node);
    for (const auto& child : node->children) {
        auto* item = new QTreeWidgetItem(parent, {toQt(child->text)});
        item->setIcon(0, imageIcon(child->image));
        item->setData(0, kNodeRole, QVariant::fromValue<quintptr>(quintptr(child.get())));
        m_items[child.get()] = item;
    }
}

void RecordPathDialog::showSelection(FolderNode* node) {
    if (!node)
        return;
    QTreeWidgetItem* item = m_items.at(node);
    m_syncing = true;
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    m_view->setCurrentItem(item);
    m_view->scrollToItem(item);
    m_syncing = false;
    m_pathLabel->setText(toQt(FolderTree::fullPath(node)));
}

void RecordPathDialog::fillCurrent() {
    if (FolderNode* node = m_tree.selected(); node && node->children.empty())
        m_tree.fill(node);
}

bool RecordPathDialog::eventFilter(QObject* watched, QEvent* event) {
    // The right arrow fills the selected folder first, so the view's own
    // handling of the key opens it.
    if (watched == m_view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Right)
        fillCurrent();
    return QDialog::eventFilter(watched, event);
}

void RecordPathDialog::accept() {
    // The label shows the selected folder; its path is taken from the tree,
    // byte for byte, since a folder name need not be valid UTF-8. Before any
    // folder was selected the label names none, and the record folder read at
    // opening stays as it is.
    std::string chosen = asRecordFolder(m_tree.selected() ? FolderTree::fullPath(m_tree.selected()) : m_path);
    // Clips recorded into a folder whose path the clip index cuts could be
    // neither played nor deleted: such a folder is refused, and said so.
    if (!RegistryLayout::fitsRecordFolder(chosen)) {
        if (m_dialogs)
            m_dialogs->notice(this, loadString(IDP_RECORD_PATH_TOO_LONG));
        return;
    }
    m_path = chosen;
    m_store.SetRecordPath(m_path);
    QDialog::accept();
}
