#pragma once

// "Command": the command line for the remote site to run, typed or picked
// from the presets "zb-hsr" and "zb-qdm", at most 50 characters, empty each
// time the dialog opens. Controls: combo1080 (editable), button1, button2.

#include <QDialog>

class QComboBox;

class CommandDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 50;

    explicit CommandDialog(QWidget* parent = nullptr);

    // The entered text (after Accepted).
    QString commandLine() const;

private:
    QComboBox* m_command;
};
