#include "mainwnd/EventNotifyDialog.h"

#include "app/core/AppStore.h"
#include "app/core/WireText.h"
#include "app/ui/DialogControls.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QFont>
#include <QHBoxLayout>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace DialogControls;

namespace {

struct Column {
    const char* header;
    EventRecord::Field field;
};

// Column 0 is the record's ID, the others its block fields.
constexpr Column kColumns[] = {{"Event", {}},
                               {"Name", EventRecord::kName},
                               {"Phone", EventRecord::kTel},
                               {"Address", EventRecord::kAddress},
                               {"Memo", EventRecord::kMemo}};

// Dialog units of the dialog's font to pixels, as the dialog template is laid out.
QSize dialogUnits(const QWidget* widget, int x, int y) {
    QFontMetrics metrics(widget->font());
    return {x * metrics.averageCharWidth() / 4, y * metrics.height() / 8};
}

} // namespace

EventNotifyDialog::EventNotifyDialog(AppStore& store, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_dialogs(dialogs) {
    setWindowTitle(tr("Browse event notify"));
    QFont arial = font();
    arial.setFamilies({QStringLiteral("Arial"), arial.family()});
    setFont(arial);

    QStringList headers;
    for (const Column& column : kColumns)
        headers << tr(column.header);
    m_list = makeReportList(this, 1071, headers, {20, 30, 30, 60, 60});

    std::vector<EventRecord> records;
    store.LoadEventRecords(records);
    for (const EventRecord& record : records) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, toQt(record.ID));
        for (int i = 1; i < int(std::size(kColumns)); ++i)
            item->setText(i, WireText::toDisplay(record.text(kColumns[i].field)));
    }

    QPushButton* remove = makeButton(this, tr("&Delete"), 1072);
    QPushButton* exit = makeButton(this, tr("E&xit"), 2);
    connect(remove, &QPushButton::clicked, this, &EventNotifyDialog::deleteSelected);
    connect(exit, &QPushButton::clicked, this, &EventNotifyDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(remove);
    buttons->addWidget(exit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    resize(dialogUnits(this, 311, 145));
}

void EventNotifyDialog::deleteSelected() {
    if (firstSelectedRow(m_list) < 0)
        return;
    if (m_dialogs.message(this, loadString(IDP_DELETE_SELECTED), MessageButtons::OkCancel,
                          MessageIcon::Question) != MessageAnswer::Ok)
        return;
    for (int row = firstSelectedRow(m_list); row >= 0; row = firstSelectedRow(m_list)) {
        std::unique_ptr<QTreeWidgetItem> item(m_list->takeTopLevelItem(row));
        m_store.DeleteEventRecord(fromQt(item->text(0)));
    }
}
