#pragma once

// The small modeless "Connect to local site" window shown while a call is
// being placed: the dial number, a status text, an animated icon and
// "Hang up".
//
// How it works: the window has a caption without a close box and ignores
// Escape; only the line control closes it, by destroying the object (it is
// owned through DialStatusWindow). Its timer (250 ms) shows the next icon of
// the five-step animation on every tick. "Hang up" emits hangUpRequested();
// whoever acts on it must do so later from the event loop (the dialog is
// destroyed by dropping the call, which must not happen inside its own click
// handler). Controls: icon1010, text1011 (number), text1012 (status),
// button1069.

#include "connect/DialAnimation.h"
#include "link/DialStatusWindow.h"

#include <QDialog>
#include <QTimer>

class QLabel;

class DialStatusDialog : public QDialog, public DialStatusWindow {
    Q_OBJECT
public:
    static constexpr int kAnimationMs = 250;

    DialStatusDialog(const QString& number, const QString& status, QWidget* parent = nullptr,
                     int animationMs = kAnimationMs);

    // Centres the window over its parent (or the screen), shows it in front
    // and paints it at once.
    void present();

    // The icon shown in control 1010 (121 to 125).
    int shownIcon() const { return m_shownIcon; }

    void reject() override;

signals:
    void hangUpRequested();
    // Each animation step, with the icon it shows.
    void iconShown(int id);

private:
    void showIcon(int id);

    DialAnimation m_animation;
    QTimer m_timer;
    QLabel* m_icon;
    int m_shownIcon = 0;
};
