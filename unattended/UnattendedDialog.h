#pragma once

// Setup > Unattended operation: the reconnect and retention options. OK
// stores them (UnattendedSettings) and the main window applies them at once.

#include "unattended/UnattendedSettings.h"

#include <QDialog>

class AppStore;
class QCheckBox;
class QSpinBox;

class UnattendedDialog : public QDialog {
    Q_OBJECT
public:
    UnattendedDialog(const UnattendedSettings& values, QWidget* parent = nullptr);
    UnattendedSettings values() const;

    // Runs the dialog over the stored values; true when OK stored new ones.
    static bool run(QWidget* parent, AppStore& store);

private:
    QCheckBox* m_reconnect;
    QSpinBox* m_attempts;
    QCheckBox* m_freeSpace;
    QSpinBox* m_days;
};
