#pragma once

// Drives modal dialogs in widget tests. A dialog run with exec() blocks the
// test; the driver watches for each new modal dialog from the event loop and
// hands it to the next scripted step, which plays the operator (fills fields,
// clicks buttons). A modal dialog that appears when no step is left is a test
// failure and is rejected, so a test never hangs.

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

class ModalDriver : public QObject {
public:
    using Step = std::function<void(QDialog*)>;

    ModalDriver();

    // The step for the next modal dialog that appears.
    void then(Step step) { m_steps.push_back(std::move(step)); }

    // Class names of the modal dialogs seen so far, in order.
    const QStringList& seen() const { return m_seen; }
    bool done() const { return m_steps.empty(); }

private:
    void poll();

    std::deque<Step> m_steps;
    QPointer<QDialog> m_current;
    QStringList m_seen;
    QTimer m_timer;
};

// Clicks the button named "button<id>" of a dialog; a test failure when there is none.
void clickButton(QWidget* dialog, int id);
