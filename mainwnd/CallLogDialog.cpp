#include "mainwnd/CallLogDialog.h"

#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr CallResult kResults[] = {
    CallResult::Connected, CallResult::Busy,          CallResult::NoAnswer,      CallResult::NoDialTone,
    CallResult::NoCarrier, CallResult::LoginRejected, CallResult::NoDecompressor};

QString Line(StringId id, int index) {
    return loadString(id).split(QLatin1Char('\n')).value(index);
}

QString duration(int64_t ms) {
    const int64_t s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// A typical text of each column, for its width.
const char* const kWidthSamples[] = {"2026-12-31 23:59:59",
                                     "answered",
                                     "+00 000 000 0000",
                                     "North Gate Yard",
                                     "SiteSim V.34 Data Modem",
                                     "no decompressor",
                                     "site request",
                                     "00:00:00",
                                     "000,000,000",
                                     "000,000,000",
                                     "0,000,000",
                                     "Channels",
                                     "Clips",
                                     "Event"};

} // namespace

void CallLogModel::setEntries(std::vector<CallLogEntry> entries) {
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

int CallLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

int CallLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString CallLogModel::text(const CallLogEntry& e, int column) {
    const QLocale locale;
    switch (column) {
    case kStart:
        return e.start.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    case kDirection:
        return Line(IDS_CALL_DIRECTIONS, e.direction == CallDirection::Answered ? 1 : 0);
    case kNumber:
        return e.number;
    case kSite:
        return e.site;
    case kModem:
        return e.modem;
    case kResult:
        return Line(IDS_CALL_RESULTS, int(e.result));
    case kEndedBy:
        return Line(IDS_CALL_ENDED_BY, int(e.endedBy));
    case kDuration:
        return duration(e.durationMs);
    case kReceived:
        return locale.toString(qulonglong(e.bytesIn));
    case kSent:
        return locale.toString(qulonglong(e.bytesOut));
    case kFrames:
        return locale.toString(qulonglong(e.frames));
    case kChannels:
        return QString::number(e.channels);
    case kClips:
        return QString::number(e.clips);
    case kEvent:
        return Line(IDS_CALL_LOG_FILTERS, e.eventFiled ? 6 : 7);
    default:
        return {};
    }
}

QVariant CallLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= m_entries.size())
        return {};
    if (role == Qt::DisplayRole)
        return text(m_entries[size_t(index.row())], index.column());
    if (role == Qt::TextAlignmentRole && index.column() >= kDuration)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant CallLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return Line(IDS_CALL_LOG_COLUMNS, section);
}

CallLogDialog::CallLogDialog(CallLog& log, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_log(log)
    , m_dialogs(dialogs) {
    setObjectName(QStringLiteral("callLogDialog"));
    setWindowTitle(loadString(IDS_CALL_LOG_TITLE));
    auto* column = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    const QDate today = QDate::currentDate();
    m_fromOn = new QCheckBox(Line(IDS_CALL_LOG_FILTERS, 0), this);
    m_from = new QDateEdit(today.addMonths(-1), this);
    m_toOn = new QCheckBox(Line(IDS_CALL_LOG_FILTERS, 1), this);
    m_to = new QDateEdit(today, this);
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    m_text = new QLineEdit(this);
    m_text->setPlaceholderText(Line(IDS_CALL_LOG_FILTERS, 2));
    m_text->setClearButtonEnabled(true);
    m_result = new QComboBox(this);
    m_result->addItem(Line(IDS_CALL_LOG_FILTERS, 4));
    for (CallResult r : kResults)
        m_result->addItem(Line(IDS_CALL_RESULTS, int(r)), int(r));
    filters->addWidget(m_fromOn);
    filters->addWidget(m_from);
    filters->addWidget(m_toOn);
    filters->addWidget(m_to);
    filters->addWidget(m_text, 1);
    filters->addWidget(new QLabel(Line(IDS_CALL_LOG_FILTERS, 3), this));
    filters->addWidget(m_result);
    column->addLayout(filters);

    m_table = new QTableView(this);
    m_table->setModel(&m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    const QFontMetrics metrics = m_table->fontMetrics();
    for (int c = 0; c < CallLogModel::kColumnCount; ++c) {
        const QString header = Line(IDS_CALL_LOG_COLUMNS, c);
        const int text = std::max(metrics.horizontalAdvance(QString::fromLatin1(kWidthSamples[c])),
                                  metrics.horizontalAdvance(header));
        m_table->setColumnWidth(c, text + 16);
    }
    column->addWidget(m_table, 1);

    auto* bottom = new QHBoxLayout;
    m_totals = new QLabel(this);
    m_totals->setObjectName(QStringLiteral("callLogTotals"));
    auto* exportButton = new QPushButton(Line(IDS_CALL_LOG_FILTERS, 5), this);
    exportButton->setObjectName(QStringLiteral("exportCsv"));
    exportButton->setAutoDefault(false);
    bottom->addWidget(m_totals, 1);
    bottom->addWidget(exportButton);
    column->addLayout(bottom);
    resize(1000, 520);

    connect(m_fromOn, &QCheckBox::toggled, this, &CallLogDialog::reload);
    connect(m_toOn, &QCheckBox::toggled, this, &CallLogDialog::reload);
    connect(m_from, &QDateEdit::dateChanged, this, [this] {
        if (m_fromOn->isChecked())
            reload();
    });
    connect(m_to, &QDateEdit::dateChanged, this, [this] {
        if (m_toOn->isChecked())
            reload();
    });
    connect(m_text, &QLineEdit::textChanged, this, &CallLogDialog::reload);
    connect(m_result, &QComboBox::currentIndexChanged, this, &CallLogDialog::reload);
    connect(exportButton, &QPushButton::clicked, this, &CallLogDialog::exportListed);
    reload();
}

CallLogFilter CallLogDialog::filter() const {
    CallLogFilter filter;
    if (m_fromOn->isChecked())
        filter.from = m_from->date().startOfDay();
    if (m_toOn->isChecked())
        filter.to = m_to->date().addDays(1).startOfDay(); // the whole "to" day
    filter.text = m_text->text().trimmed();
    if (m_result->currentIndex() > 0)
        filter.result = CallResult(m_result->currentData().toInt());
    return filter;
}

void CallLogDialog::reload() {
    m_model.setEntries(m_log.query(filter()));
    const CallLogTotals totals = CallLog::totals(m_model.entries());
    const QLocale locale;
    m_totals->setText(loadString(IDS_CALL_LOG_TOTALS)
                          .arg(locale.toString(qulonglong(totals.calls)), duration(totals.connectedMs),
                               locale.toString(qulonglong(totals.bytesIn)),
                               locale.toString(qulonglong(totals.bytesOut))));
}

bool CallLogDialog::exportListed() {
    FileDialogRequest request;
    request.title = Line(IDS_CALL_LOG_FILTERS, 5);
    request.directory = QDir::homePath();
    request.defaultName = QStringLiteral("calls");
    request.defaultSuffix = QStringLiteral("csv");
    request.filter = QStringLiteral("CSV (*.csv)");
    const QString path = m_dialogs.saveFileName(this, request);
    if (path.isEmpty())
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || !CallLog::writeCsv(m_model.entries(), out) || !out.commit()) {
        m_dialogs.notice(this, loadString(IDP_CALL_LOG_EXPORT_FAILED));
        return false;
    }
    return true;
}
