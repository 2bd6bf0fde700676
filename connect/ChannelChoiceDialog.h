#pragma once

// "Open local site video channel": one line per channel of the channel table
// ("0003 Gate"), sorted, the first one selected.
//
// How it works: "&Open" closes with Accepted; channel() is then the number
// read back from the first four characters of the selected line (0 when the
// list is empty). The caller sends OpenChannel for it unless that channel
// already has a live window. Controls: combo1 (the list), button1 ("&Open"),
// button2.

#include <QDialog>
#include <QStringList>

#include <cstdint>

class ChannelTable;
class QComboBox;

class ChannelChoiceDialog : public QDialog {
    Q_OBJECT
public:
    explicit ChannelChoiceDialog(const ChannelTable& channels, QWidget* parent = nullptr);

    // The chosen channel number (after Accepted); 0 when no line is selected.
    int32_t channel() const;

private:
    QComboBox* m_list;
};
