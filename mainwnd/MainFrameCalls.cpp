// The main window's call views and keyboard commands: the call panel dock,
// the call log window, the call journal that files every finished call, the
// once-a-second call tick (panel figures, old-picture marks) and the keys
// for one channel alone, activating channels and the active channel's
// Record, Stop and Snapshot.
#include "app/core/AppStore.h"
#include "app/core/ChannelTable.h"
#include "calllog/FrameAge.h"
#include "link/ChannelChoice.h"
#include "mainwnd/CallLogDialog.h"
#include "mainwnd/CallPanel.h"
#include "mainwnd/MainFrame.h"
#include "res/CommandId.h"
#include "res/StringTable.h"
#include "video/ui/ChannelWindow.h"
#include "video/ui/VideoViewArea.h"

#include <QAction>
#include <QMenu>

namespace {

constexpr int kCallTickMs = 1000;

} // namespace

void MainFrame::createCallViews() {
    CallJournal::Sources journal;
    journal.counters = [this] {
        return m_port->counters();
    };
    journal.phoneBookName = [this](const QString& number) {
        LineCallRecord dialled;
        dialled.number = number;
        return siteNameFor(dialled, CallCounters{});
    };
    journal.filed = [this](const CallLogEntry&) {
        if (m_callLogDialog)
            m_callLogDialog->reload();
    };
    m_journal = std::make_unique<CallJournal>(m_env.callLog, std::move(journal));
    m_lines->setCallEndSink(m_journal.get());

    CallPanel::Sources panel;
    panel.live = [this] {
        return m_port->IsOpen();
    };
    panel.line = [this] {
        return m_lines->currentCall();
    };
    panel.counters = [this] {
        return m_port->counters();
    };
    panel.site = [this](const LineCallRecord& line, const CallCounters& counters) {
        return siteNameFor(line, counters);
    };
    panel.channelLabel = [this](int32_t channel) {
        return channelLabel(channel, channelName(channel));
    };
    panel.clock = m_env.portOptions.now;
    m_callPanel = new CallPanel(std::move(panel), this);
    addDockWidget(Qt::RightDockWidgetArea, m_callPanel);
    m_callPanel->hide();

    const auto add = [this](CommandId id, const QString& text, const QKeySequence& key, StringId prompt) {
        auto* action = new QAction(text, this);
        action->setData(commandNumber(id));
        if (!key.isEmpty())
            action->setShortcut(key);
        if (prompt != StringId(0)) {
            const QStringList lines = loadString(prompt).split(QLatin1Char('\n'));
            action->setStatusTip(lines.value(0));
            action->setToolTip(lines.value(1, lines.value(0)));
        }
        connect(action, &QAction::triggered, this, [this, id] { executeViewCommand(id); });
        addAction(action); // keys work while the menus are closed
        m_viewActions[id] = action;
        return action;
    };
    QAction* panelAction = add(CommandId::CallPanel, tr("&Call panel"), {}, IDS_CMD_CALL_PANEL);
    panelAction->setCheckable(true);
    add(CommandId::CallLog, tr("Call &log"), {}, IDS_CMD_CALL_LOG);
    if (m_viewMenu) {
        m_viewMenu->addSeparator();
        m_viewMenu->addAction(panelAction);
        m_viewMenu->addAction(viewAction(CommandId::CallLog));
    }
    // The dock's own close box stores the choice as the menu item does.
    connect(m_callPanel, &QDockWidget::visibilityChanged, this, [this](bool) { refreshViewActions(); });

    add(CommandId::ChannelAlone, tr("&Full screen channel"), QKeySequence(Qt::Key_F11), StringId(0));
    for (int place = 1; place <= kActivatePlaces; ++place) {
        add(activateChannelCommand(place), tr("Channel window &%1").arg(place),
            QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + place)), StringId(0));
    }
    add(CommandId::ActiveRecord, tr("&Record"), QKeySequence(Qt::CTRL | Qt::Key_R),
        IDS_PROMPT_CHANNEL_RECORD);
    add(CommandId::ActiveStop, tr("S&top"), QKeySequence(Qt::CTRL | Qt::Key_T), IDS_PROMPT_CHANNEL_STOP);
    add(CommandId::ActiveSnapshot, tr("Sna&pshot"), QKeySequence(Qt::CTRL | Qt::Key_P),
        IDS_PROMPT_CHANNEL_SNAPSHOT);
    if (m_channelMenu) {
        m_channelMenu->addSeparator();
        m_channelMenu->addAction(viewAction(CommandId::ChannelAlone));
        m_channelMenu->addAction(viewAction(CommandId::ActiveRecord));
        m_channelMenu->addAction(viewAction(CommandId::ActiveStop));
        m_channelMenu->addAction(viewAction(CommandId::ActiveSnapshot));
        QMenu* windows = m_channelMenu->addMenu(tr("Channel &windows"));
        for (int place = 1; place <= kActivatePlaces; ++place)
            windows->addAction(viewAction(activateChannelCommand(place)));
    }

    m_callTimer.setObjectName(QStringLiteral("callTimer"));
    m_callTimer.setInterval(kCallTickMs);
    connect(&m_callTimer, &QTimer::timeout, this, &MainFrame::onCallTick);
    m_callTimer.start();
}

CallLogDialog* MainFrame::callLogWindow() const {
    return m_callLogDialog;
}

QAction* MainFrame::viewAction(CommandId id) const {
    const auto it = m_viewActions.find(id);
    return it == m_viewActions.end() ? nullptr : it->second;
}

QString MainFrame::siteNameFor(const LineCallRecord& line, const CallCounters& counters) {
    if (line.answered)
        return QString::fromLatin1(counters.siteName.data(), qsizetype(counters.siteName.size()));
    if (line.number != m_siteNumber) {
        // Once per number: the phone book lives in the settings store.
        m_siteNumber = line.number;
        m_siteName.clear();
        std::vector<PhoneEntry> book;
        m_env.store.LoadPhoneBook(book);
        for (const PhoneEntry& entry : book)
            if (QString::fromStdString(entry.Dial) == line.number) {
                m_siteName = QString::fromStdString(entry.Name);
                break;
            }
    }
    return m_siteName.isEmpty() ? line.number : m_siteName;
}

void MainFrame::clipStarted() {
    m_port->countClip();
}

void MainFrame::onCallTick() {
    const bool live = m_port->IsOpen();
    // Shown when a call comes up unless the operator hid the panel for good.
    if (live && !m_wasLive && m_env.store.GetSetting(AppStore::kCallPanel) != 0)
        m_callPanel->show();
    m_wasLive = live;
    m_callPanel->refresh();

    const CallCounters counters = m_port->counters();
    const auto now = m_env.portOptions.now();
    for (const CommPort::ChannelSlot& slot : m_port->channelSlots()) {
        if (!slot.window)
            continue;
        std::optional<int> age;
        for (const ChannelCounters& channel : counters.channels)
            if (channel.streamKey == slot.streamKey)
                age = FrameAge::oldPictureSeconds(channel, now);
        slot.window->showFrameAge(age);
    }
}

void MainFrame::setChannelAloneKeys(bool alone) {
    if (alone == m_aloneKeys)
        return;
    m_aloneKeys = alone;
    // While one channel is alone, Esc returns to the layout; otherwise it
    // shows and hides the bars.
    if (QAction* bars = action(CommandId::Toolbar))
        bars->setShortcut(alone ? QKeySequence() : QKeySequence(Qt::Key_Escape));
    if (QAction* aloneAction = viewAction(CommandId::ChannelAlone))
        aloneAction->setShortcuts(
            alone ? QList<QKeySequence>{QKeySequence(Qt::Key_F11), QKeySequence(Qt::Key_Escape)}
                  : QList<QKeySequence>{QKeySequence(Qt::Key_F11)});
}

bool MainFrame::executeViewCommand(CommandId id) {
    if (m_closing)
        return false;
    bool done = false;
    if (id == CommandId::CallPanel) {
        const bool show = !m_callPanel->isVisible();
        m_callPanel->setVisible(show);
        m_env.store.SetSetting(AppStore::kCallPanel, show ? 1 : 0);
        done = true;
    } else if (id == CommandId::CallLog) {
        if (m_env.callLog) {
            if (!m_callLogDialog) {
                m_callLogDialog = new CallLogDialog(*m_env.callLog, m_env.dialogs, this);
                m_callLogDialog->setAttribute(Qt::WA_DeleteOnClose);
            }
            m_callLogDialog->show();
            m_callLogDialog->raise();
            m_callLogDialog->activateWindow();
            done = true;
        }
    } else if (id == CommandId::ChannelAlone) {
        if (m_view->aloneWindow()) {
            m_view->restoreLayout();
            done = true;
        } else {
            ChannelWindow* active = m_view->activeChannelWindow();
            if (!active && !m_view->channelWindows().isEmpty())
                active = m_view->channelWindows().front();
            done = m_view->showAlone(active);
        }
    } else if (activatedPlace(id) != 0) {
        const QList<ChannelWindow*> windows = m_view->channelWindows();
        const int place = activatedPlace(id) - 1;
        if (place < windows.size() && (!m_view->aloneWindow() || m_view->aloneWindow() == windows[place])) {
            m_view->setActiveSubWindow(windows[place]);
            done = true;
        }
    } else if (id == CommandId::ActiveRecord || id == CommandId::ActiveStop ||
               id == CommandId::ActiveSnapshot) {
        const CommandId command = id == CommandId::ActiveRecord ? CommandId::ChannelRecord
                                  : id == CommandId::ActiveStop ? CommandId::ChannelStop
                                                                : CommandId::ChannelSnapshot;
        if (ChannelWindow* window = m_view->activeChannelWindow();
            window && window->isCommandEnabled(command)) {
            window->executeCommand(command);
            done = true;
        }
    }
    refreshViewActions();
    return done;
}

void MainFrame::refreshViewActions() {
    if (m_viewActions.empty() || !m_view)
        return;
    setChannelAloneKeys(m_view->aloneWindow() != nullptr);
    const QList<ChannelWindow*> windows = m_view->channelWindows();
    ChannelWindow* active = m_view->activeChannelWindow();
    viewAction(CommandId::CallPanel)->setChecked(m_callPanel->isVisible());
    viewAction(CommandId::CallLog)->setEnabled(m_env.callLog != nullptr);
    viewAction(CommandId::ChannelAlone)->setEnabled(!windows.isEmpty());
    for (int place = 1; place <= kActivatePlaces; ++place)
        viewAction(activateChannelCommand(place))->setEnabled(place - 1 < windows.size());
    viewAction(CommandId::ActiveRecord)
        ->setEnabled(active && active->isCommandEnabled(CommandId::ChannelRecord));
    viewAction(CommandId::ActiveStop)->setEnabled(active && active->isCommandEnabled(CommandId::ChannelStop));
    viewAction(CommandId::ActiveSnapshot)
        ->setEnabled(active && active->isCommandEnabled(CommandId::ChannelSnapshot));

    // The Video window pop-up mirrors the two menu items it stands for.
    if (m_videoWindowMenu) {
        const QList<QAction*> items = m_videoWindowMenu->actions(); // tile, separator, overlap
        if (items.size() >= 3) {
            items[0]->setEnabled(action(CommandId::Arrange)->isEnabled());
            items[2]->setCheckable(true);
            items[2]->setEnabled(action(CommandId::ChangeSize)->isEnabled());
            items[2]->setChecked(action(CommandId::ChangeSize)->isChecked());
        }
    }
}
