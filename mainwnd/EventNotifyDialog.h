#pragma once

// "Browse event notify": the identities that calling sites sent, one row per
// stored event record, and deletion of the selected ones.
//
// How it works: the records are read once when the dialog is made and shown
// in the store's order (event time, name, phone, address, memo); afterwards the
// rows are the dialog's only copy. Delete asks once, then removes every
// selected row and its record. Records are never edited or added here.

#include <QDialog>

class AppStore;
class DialogService;
class QTreeWidget;

class EventNotifyDialog : public QDialog {
    Q_OBJECT
public:
    EventNotifyDialog(AppStore& store, DialogService& dialogs, QWidget* parent = nullptr);

private:
    void deleteSelected();

    AppStore& m_store;
    DialogService& m_dialogs;
    QTreeWidget* m_list;
};
