#pragma once

// "Setup phone book": the remote sites an operator calls, each with the user
// name to log in with, its password, its number and a note.
//
// How it works: the stored entries are loaded once when the dialog is made;
// every Add and Delete is written to the store at once, there is no separate
// save. The list shows name, number and note sorted by name (never the
// password). A double-click on a row copies it into the edits. In select mode
// (from the connect dialog) "&Select" closes the dialog with the first
// selected row, whose name, password and number the caller then reads from
// selectedEntry(); otherwise the button is disabled. "E&xit" is the default
// button, so Enter closes the dialog as Exit does.

#include "app/core/AppStore.h"
#include "app/core/PhoneBookModel.h"

#include <QDialog>

class DialogService;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class PhoneBookDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Edit, Select };

    static constexpr int kUserLength = 20;
    static constexpr int kPasswordLength = 20;
    static constexpr int kPhoneLength = 30;
    static constexpr int kNoteLength = 50;

    PhoneBookDialog(AppStore& store, DialogService& dialogs, Mode mode, QWidget* parent = nullptr);

    // After exec() returned accepted (select mode only): Name, PassWord and
    // Dial of the chosen row, and its note as Memo.
    PhoneEntry selectedEntry() const { return m_selected; }

private:
    void add();
    void deleteSelected();
    void select();
    // Copies the first selected row into the edits; false when none is selected.
    bool fillFromSelection();
    void showRow(PhoneBookModel::RowChange change);

    AppStore& m_store;
    DialogService& m_dialogs;
    PhoneBookModel m_model;
    PhoneEntry m_selected;
    QTreeWidget* m_list;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_phone;
    QLineEdit* m_note;
};
