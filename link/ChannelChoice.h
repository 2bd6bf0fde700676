#pragma once

// Channel labels ("0003 Gate": the number as four digits, a space, the name)
// and the channel choice list built from them. The choice dialog reads the
// chosen channel back from the first four characters of its line, so numbers
// above 9999 do not survive the round trip, and the list sorts numerically
// only up to 9999.

#include "app/core/ChannelTable.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

QString channelLabel(int32_t channel, const std::string& name);
// One label per channel table row, sorted as the choice list shows them.
QStringList channelChoiceLines(const ChannelTable& table);
// The channel number of a choice line: the integer value of its first four
// characters (leading blanks and a sign allowed, stops at the first non-digit);
// 0 for an empty line (nothing selected).
int32_t channelFromChoice(const QString& line);
