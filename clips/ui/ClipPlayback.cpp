#include "clips/ui/ClipPlayback.h"

#include "clips/core/ClipsInUse.h"
#include "clips/ui/ClipListWidget.h"
#include "video/ui/PlayerWindow.h"

#include <QLabel>

int playSelectedClips(ClipListWidget& list, const std::function<std::string(const QTreeWidgetItem*)>& labelOf,
                      ClipGroupList& groups, ClipIndex& index, ClipCounts& counts, QWidget* owner,
                      DialogService& dialogs, const MediaPlayer::Clock& clock) {
    int opened = 0;
    for (QTreeWidgetItem* item : list.selectedInListOrder()) {
        if (opened >= kMaxPlayersPerPlay)
            break;
        const std::string name = ClipListWidget::fileName(item);
        if (!ClipListWidget::isRead(item)) {
            ++counts.read;
            index.MarkClipRead(name, true);
            ClipListWidget::setRead(item);
        }
        ClipRecord* record = groups.findRecord(labelOf(item), name);
        if (!record)
            continue;
        record->Open = 1;
        auto* player = new PlayerWindow(owner, dialogs, clock);
        // Listed as in use for as long as the player exists.
        auto inUse = std::make_shared<ClipsInUse::Token>(record->Path + record->FileName);
        QObject::connect(player, &QObject::destroyed, [inUse] {});
        player->Open(*record);
        ++opened;
    }
    return opened;
}

void showCounts(const ClipCounts& counts, QLabel* total, QLabel* read, QLabel* unread) {
    total->setText(QString::fromStdString(formatCount(counts.total)));
    read->setText(QString::fromStdString(formatCount(counts.read)));
    unread->setText(QString::fromStdString(formatCount(counts.unread())));
}
