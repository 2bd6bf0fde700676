#include "app/ui/PhoneBookDialog.h"

#include "app/ui/DialogControls.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace DialogControls;

namespace {

std::vector<PhoneEntry> loadEntries(AppStore& store) {
    std::vector<PhoneEntry> entries;
    store.LoadPhoneBook(entries);
    return entries;
}

const QIcon& rowIcon() {
    static const QIcon icon = untintedIcon(QStringLiteral(":/images/phonebook_entry.png"));
    return icon;
}

} // namespace

PhoneBookDialog::PhoneBookDialog(AppStore& store, DialogService& dialogs, Mode mode, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_dialogs(dialogs)
    , m_model(loadEntries(store)) {
    setWindowTitle(tr("Setup phone book"));
    setWindowIcon(rowIcon());

    m_user = makeEdit(this, 1013, kUserLength);
    // A "\" would nest the entry's key inside another one; the store refuses such names.
    acceptWireTextOnly(m_user, QStringLiteral("\\"));
    m_password = makeEdit(this, 1017, kPasswordLength, true);
    acceptWireTextOnly(m_password);
    m_phone = makeEdit(this, 1018, kPhoneLength);
    m_note = makeEdit(this, 1019, kNoteLength);

    m_list = makeReportList(this, 1014, {tr("User Name"), tr("Phone Number"), tr("Note")}, {20, 30, 50});
    m_list->setIconSize(QSize(34, 20));
    m_list->setMinimumHeight(fontMetrics().height() * 12);
    for (size_t i = 0; i < m_model.rows().size(); ++i)
        showRow({int(i), true});
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { fillFromSelection(); });

    QPushButton* add = makeButton(this, tr("&Add"), 1016);
    QPushButton* remove = makeButton(this, tr("&Delete"), 1015);
    QPushButton* select = makeButton(this, tr("&Select"), 1);
    QPushButton* exit = makeButton(this, tr("E&xit"), 2);
    select->setEnabled(mode == Mode::Select);
    exit->setDefault(true);
    connect(add, &QPushButton::clicked, this, &PhoneBookDialog::add);
    connect(remove, &QPushButton::clicked, this, &PhoneBookDialog::deleteSelected);
    connect(select, &QPushButton::clicked, this, &PhoneBookDialog::select);
    connect(exit, &QPushButton::clicked, this, &PhoneBookDialog::reject);

    auto* edits = new QGridLayout;
    edits->addWidget(new QLabel(tr("User name:"), this), 0, 0);
    edits->addWidget(m_user, 0, 1);
    edits->addWidget(new QLabel(tr("Password:"), this), 0, 2);
    edits->addWidget(m_password, 0, 3);
    edits->addWidget(new QLabel(tr("Phone number:"), this), 1, 0);
    edits->addWidget(m_phone, 1, 1);
    edits->addWidget(new QLabel(tr("Note:"), this), 1, 2);
    edits->addWidget(m_note, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(select);
    buttons->addWidget(exit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(edits);
    layout->addLayout(buttons);
    resize(averageCharWidths(this, 108), sizeHint().height());
}

void PhoneBookDialog::showRow(PhoneBookModel::RowChange change) {
    const PhoneBookModel::Row& row = m_model.rows()[size_t(change.index)];
    QTreeWidgetItem* item;
    if (change.inserted) {
        item = new QTreeWidgetItem;
        item->setText(0, toQt(row.name));
        item->setIcon(0, rowIcon());
        m_list->insertTopLevelItem(change.index, item);
    } else {
        item = m_list->topLevelItem(change.index);
    }
    item->setText(1, toQt(row.dial));
    item->setText(2, toQt(row.memo));
}

void PhoneBookDialog::add() {
    PhoneEntry entry{fromQt(m_user->text()), fromQt(m_password->text()), fromQt(m_phone->text()),
                     fromQt(m_note->text())};
    if (entry.Name.empty()) {
        m_dialogs.notice(this, loadString(IDP_INPUT_USER_NAME));
        m_user->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_store.SavePhoneEntry(entry);
    showRow(m_model.upsertRow(entry));
    m_model.upsertEntry(entry);
    m_user->clear();
    m_password->clear();
    m_phone->clear();
    m_note->clear();
    m_user->setFocus(Qt::OtherFocusReason);
}

void PhoneBookDialog::deleteSelected() {
    if (firstSelectedRow(m_list) < 0)
        return;
    if (m_dialogs.message(this, loadString(IDP_DELETE_SELECTED), MessageButtons::OkCancel,
                          MessageIcon::Question) != MessageAnswer::Ok)
        return;
    for (int row = firstSelectedRow(m_list); row >= 0; row = firstSelectedRow(m_list)) {
        std::string name = m_model.rows()[size_t(row)].name;
        delete m_list->takeTopLevelItem(row);
        m_model.removeRow(row);
        m_store.DeletePhoneEntry(name);
    }
}

bool PhoneBookDialog::fillFromSelection() {
    int row = firstSelectedRow(m_list);
    if (row < 0)
        return false;
    const PhoneBookModel::Row& selected = m_model.rows()[size_t(row)];
    m_user->setText(toQt(selected.name));
    m_phone->setText(toQt(selected.dial));
    m_note->setText(toQt(selected.memo));
    if (std::optional<std::string> password = m_model.passwordOf(selected.name))
        m_password->setText(toQt(*password));
    return true;
}

void PhoneBookDialog::select() {
    if (!fillFromSelection()) {
        m_dialogs.notice(this, loadString(IDP_INPUT_ERROR));
        return;
    }
    m_selected = {fromQt(m_user->text()), fromQt(m_password->text()), fromQt(m_phone->text()),
                  fromQt(m_note->text())};
    accept();
}
