#pragma once

// The call log window (View > Call log): every logged call, newest first,
// with filters (date range, site or number text, result), the totals of the
// listed calls (calls, connected time, bytes) and Export to CSV of the listed
// calls.
//
// How it works: the rows are read once per filter change with
// CallLog::query into a table model that formats cells on demand, so a log at
// its full size opens in a fraction of a second; column widths come from the
// font's metrics of typical texts, never from measuring every row. The save
// dialog and the failure notice go through the dialog service.

#include "calllog/CallLog.h"

#include <QAbstractTableModel>
#include <QDialog>

#include <vector>

class DialogService;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableView;

class CallLogModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        kStart,
        kDirection,
        kNumber,
        kSite,
        kModem,
        kResult,
        kEndedBy,
        kDuration,
        kReceived,
        kSent,
        kFrames,
        kChannels,
        kClips,
        kEvent,
        kColumnCount
    };

    void setEntries(std::vector<CallLogEntry> entries);
    const std::vector<CallLogEntry>& entries() const { return m_entries; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString text(const CallLogEntry& entry, int column);

private:
    std::vector<CallLogEntry> m_entries;
};

class CallLogDialog final : public QDialog {
    Q_OBJECT
public:
    CallLogDialog(CallLog& log, DialogService& dialogs, QWidget* parent = nullptr);

    // Reads the rows again with the current filters.
    void reload();
    CallLogFilter filter() const;
    // Asks for a file and writes the listed rows to it; false when nothing was written.
    bool exportListed();

    const CallLogModel& model() const { return m_model; }
    QTableView* table() const { return m_table; }
    QLabel* totalsLabel() const { return m_totals; }
    QLineEdit* textFilter() const { return m_text; }
    QComboBox* resultFilter() const { return m_result; }
    QCheckBox* fromEnabled() const { return m_fromOn; }
    QDateEdit* fromDate() const { return m_from; }
    QCheckBox* toEnabled() const { return m_toOn; }
    QDateEdit* toDate() const { return m_to; }

private:
    CallLog& m_log;
    DialogService& m_dialogs;
    CallLogModel m_model;
    QCheckBox* m_fromOn = nullptr;
    QDateEdit* m_from = nullptr;
    QCheckBox* m_toOn = nullptr;
    QDateEdit* m_to = nullptr;
    QLineEdit* m_text = nullptr;
    QComboBox* m_result = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_totals = nullptr;
};
