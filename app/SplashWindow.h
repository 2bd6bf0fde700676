#pragma once

// The start-up picture: a borderless window with the splash picture, centred
// on the screen, shown at most once per process while the main window is
// being made.
//
// How it works: Show makes the one splash window (unless the command line
// switched it off or one exists) and installs an application-wide event
// filter. The window goes away after 750 ms, or at the first key or mouse
// button press anywhere in the program; that press is swallowed, so it never
// reaches the window it was meant for. Going away repaints the main window.

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class SplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 750;

    // Switches the splash on or off for the whole process (the command line).
    static void SetEnabled(bool enabled);
    // Shows the splash over `parent` (owned by it, centred on the screen);
    // nothing when switched off, already shown once, or the picture is missing.
    static void Show(QWidget* parent, int showMs = kShowMs);
    // The splash window now, or null.
    static SplashWindow* current();
    // Hides and destroys the splash window; the owner is repainted.
    static void hideSplash();

    // True for the events that close the splash and are swallowed: key and
    // mouse button presses, in or outside a window's client area.
    static bool isDismissEvent(const QEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SplashWindow(QPixmap picture, QWidget* parent, int showMs);

    QPixmap m_picture;
    QTimer m_timer;
};
