#pragma once

// "Options": start at log-in, automatic arrangement of the video windows, and
// the low-disk-space warning (threshold in MB, check period in seconds).
//
// How it works: the values are read from the settings when the dialog is
// made and shown in its controls. OK checks the two number fields in order;
// the first bad one shows its message, gets the focus, and the dialog stays
// open with nothing stored. When both are good all four values are stored and
// the dialog closes; the caller then takes the new threshold and period from
// values(). Cancel stores nothing.

#include "app/core/OptionsValues.h"

#include <QDialog>

class AppStore;
class DialogService;
class QCheckBox;
class QLineEdit;

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(AppStore& store, DialogService& dialogs, QWidget* parent = nullptr);

    // The values read at construction, or those stored by OK.
    const OptionsValues& values() const { return m_values; }

    void accept() override;

private:
    // The number in `edit`, or nothing after showing its message.
    std::optional<uint32_t> readNumber(QLineEdit* edit, uint32_t min, uint32_t max);

    AppStore& m_store;
    DialogService& m_dialogs;
    OptionsValues m_values;
    QCheckBox* m_autoRun;
    QCheckBox* m_autoArrange;
    QLineEdit* m_lowSpace;
    QLineEdit* m_checkSeconds;
};
