#include "mainwnd/CallPanel.h"

#include "res/StringTable.h"

#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString duration(std::chrono::milliseconds elapsed) {
    const qint64 seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString count(uint64_t n) {
    return QLocale().toString(qulonglong(n));
}

} // namespace

CallPanel::CallPanel(Sources sources, QWidget* parent)
    : QDockWidget(loadString(IDS_CALL_PANEL_TITLE), parent)
    , m_sources(std::move(sources))
    , m_stats(m_sources.clock) {
    setObjectName(QStringLiteral("callPanel"));
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    auto* form = new QFormLayout;
    const QStringList labels = loadString(IDS_CALL_PANEL_FIELDS).split(QLatin1Char('\n'));
    for (int i = 0; i < kFieldCount; ++i) {
        m_values[i] = new QLabel(body);
        m_values[i]->setObjectName(QStringLiteral("callField%1").arg(i));
        m_values[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(labels.value(i), m_values[i]);
    }
    column->addLayout(form);
    m_channels = new QTreeWidget(body);
    m_channels->setObjectName(QStringLiteral("callChannels"));
    m_channels->setRootIsDecorated(false);
    m_channels->setHeaderLabels(loadString(IDS_CALL_PANEL_COLUMNS).split(QLatin1Char('\n')));
    m_channels->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    column->addWidget(m_channels, 1);
    setWidget(body);
    m_values[kSite]->setText(loadString(IDS_CALL_IDLE));
}

QString CallPanel::fieldText(Field field) const {
    return field >= 0 && field < kFieldCount ? m_values[field]->text() : QString();
}

void CallPanel::refresh() {
    const bool live = m_sources.live && m_sources.live();
    const LineCallRecord line = m_sources.line ? m_sources.line() : LineCallRecord{};
    const CallCounters counters = m_sources.counters ? m_sources.counters() : CallCounters{};
    const QString site = live && m_sources.site ? m_sources.site(line, counters) : m_stats.current().site;
    m_stats.update(live, line, site, counters);
    const CallStats::Figures& f = m_stats.current();
    if (!f.any)
        return;

    setWindowTitle(loadString(f.live ? IDS_CALL_PANEL_TITLE : IDS_CALL_LAST));
    const QStringList directions = loadString(IDS_CALL_DIRECTIONS).split(QLatin1Char('\n'));
    m_values[kDirection]->setText(directions.value(f.answered ? 1 : 0));
    m_values[kSite]->setText(f.site);
    m_values[kModem]->setText(f.connectSpeed > 0 ? f.modem + QStringLiteral(", ") +
                                                       loadString(IDS_CALL_SPEED).arg(f.connectSpeed)
                                                 : f.modem);
    m_values[kElapsed]->setText(duration(f.elapsed));
    m_values[kReceived]->setText(count(f.bytesIn));
    m_values[kSent]->setText(count(f.bytesOut));
    m_values[kRate]->setText(
        loadString(IDS_CALL_RATE)
            .arg(QString::number(f.receiveRate, 'f', 0),
                 f.lineShare < 0 ? QStringLiteral("?") : QString::number(f.lineShare * 100.0, 'f', 0)));
    m_values[kDamaged]->setText(count(f.damagedPackets));
    m_values[kFrames]->setText(count(f.frames));

    while (m_channels->topLevelItemCount() > int(f.channels.size()))
        delete m_channels->takeTopLevelItem(m_channels->topLevelItemCount() - 1);
    for (size_t i = 0; i < f.channels.size(); ++i) {
        const CallStats::ChannelRow& row = f.channels[i];
        QTreeWidgetItem* item = m_channels->topLevelItem(int(i));
        if (!item)
            item = new QTreeWidgetItem(m_channels);
        const qint64 age = std::chrono::duration_cast<std::chrono::seconds>(row.age).count();
        item->setText(0, m_sources.channelLabel ? m_sources.channelLabel(row.channel)
                                                : QString::number(row.channel));
        item->setText(1, count(row.frames));
        item->setText(2, QString::number(row.framesPerMinute, 'f', 1));
        item->setText(3, count(row.lastFrameBytes));
        item->setText(4, row.stalled ? loadString(IDS_CHANNEL_STALLED).arg(age)
                                     : QStringLiteral("%1 s").arg(age));
        item->setForeground(4, row.stalled ? QBrush(Qt::red) : QBrush());
    }
}
