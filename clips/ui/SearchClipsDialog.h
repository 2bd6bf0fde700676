#pragma once

// Finds clips of one channel (or of all channels) whose start lies within
// optional inclusive bounds, and plays them. It searches the clip index's
// catalog (the whole index, however large); clips played here are marked read
// in the index and in the browser's loaded clips, and the browser's list
// catches up at its next node selection. Players opened here are owned by
// this dialog. Export takes the selected clips of one channel,
// Export range the chosen channel between both chosen times. It opens at once
// while the catalog is still being read: the counts line says so and Search
// waits (disabled) until the channels fill in.

#include "clips/core/ClipGroups.h"
#include "platform/media/MediaPlayer.h"

#include <QDialog>

class ClipIndex;
class ClipListWidget;
class DialogService;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTimeEdit;

class SearchClipsDialog : public QDialog {
    Q_OBJECT

public:
    SearchClipsDialog(ClipGroupList& groups, ClipIndex& index, DialogService& dialogs, QWidget* parent,
                      MediaPlayer::Clock playerClock = {});
    ~SearchClipsDialog() override;

    void search();
    void openSelected();
    // Exports the selected clips (of one channel) as one file.
    void exportSelected();
    // Exports the chosen channel between the two chosen times, cut to them.
    void exportRange();

    QComboBox* channelBox() const { return m_channel; }
    QCheckBox* afterBox() const { return m_after; }
    QCheckBox* beforeBox() const { return m_before; }
    QDateEdit* lowerDate() const { return m_lowerDate; }
    QTimeEdit* lowerTime() const { return m_lowerTime; }
    QDateEdit* upperDate() const { return m_upperDate; }
    QTimeEdit* upperTime() const { return m_upperTime; }
    ClipListWidget* list() const { return m_list; }
    QString countTexts() const;
    bool loading() const { return m_loading; }

private:
    void enablePickers();
    // The channel list from the catalog at hand, or the loading state.
    void showChannels();

    ClipGroupList& m_groups; // the browser's loaded clips
    ClipGroupList m_hits;    // the records of the last search's hits
    ClipIndex& m_index;
    DialogService& m_dialogs;
    MediaPlayer::Clock m_playerClock;
    ClipCounts m_counts;
    bool m_loading = false;
    int m_catalogListener = 0;
    QPushButton* m_searchButton = nullptr;

    QComboBox* m_channel;
    QCheckBox* m_after;
    QDateEdit* m_lowerDate;
    QTimeEdit* m_lowerTime;
    QCheckBox* m_before;
    QDateEdit* m_upperDate;
    QTimeEdit* m_upperTime;
    ClipListWidget* m_list;
    QLabel* m_total;
    QLabel* m_read;
    QLabel* m_unread;
};
