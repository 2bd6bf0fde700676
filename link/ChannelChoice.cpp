#include "link/ChannelChoice.h"

#include "app/core/WireText.h"
QString channelLabel(int32_t channel, const std::string& name) {
    return QString::asprintf("%04d ", channel) + WireText::toDisplay(name);
}

QStringList channelChoiceLines(const ChannelTable& table) {
    QStringList lines;
    for (const ChannelEntry& entry : table.rows())
        lines.append(channelLabel(entry.channel, entry.name));
    lines.sort();
    return lines;
}

int32_t channelFromChoice(const QString& line) {
    const QString head = line.left(4);
    qsizetype i = 0;
    while (i < head.size() && head[i].isSpace())
        ++i;
    bool negative = false;
    if (i < head.size() && (head[i] == u'-' || head[i] == u'+')) {
        negative = head[i] == u'-';
        ++i;
    }
    int32_t value = 0;
    for (; i < head.size() && head[i] >= u'0' && head[i] <= u'9'; ++i)
        value = value * 10 + (head[i].unicode() - u'0');
    return negative ? -value : value;
}
