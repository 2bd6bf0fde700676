#pragma once

// Playing the selected clips of a list, as the browser and the search dialog
// both do: in list order, each unread item is marked read (icon, count and
// index entry); its record is looked up under its channel label; a record
// that is found is marked open and played in a new player owned by `owner`.
// At most six players open per call; items whose record is not found do not
// count against that.

#include "clips/core/ClipGroups.h"
#include "platform/media/MediaPlayer.h"

#include <functional>
#include <string>

class ClipListWidget;
class DialogService;
class QTreeWidgetItem;
class QWidget;

inline constexpr int kMaxPlayersPerPlay = 6;

// Returns the number of players opened.
int playSelectedClips(ClipListWidget& list, const std::function<std::string(const QTreeWidgetItem*)>& labelOf,
                      ClipGroupList& groups, ClipIndex& index, ClipCounts& counts, QWidget* owner,
                      DialogService& dialogs, const MediaPlayer::Clock& clock);

// Shows counts as "%6d" in the three labels.
class QLabel;
void showCounts(const ClipCounts& counts, QLabel* total, QLabel* read, QLabel* unread);
