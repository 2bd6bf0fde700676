#pragma once

// The modeless "Connect to local site" window shown while a call is placed.
// The line control owns the one window it opened: destroying the object
// closes the window (the window must not delete itself, and its "Hang up"
// button calls LineManager::DropCall, which destroys it).

#include <QString>

#include <memory>

class DialStatusWindow {
public:
    virtual ~DialStatusWindow() = default;
};

class DialStatusFactory {
public:
    virtual ~DialStatusFactory() = default;

    // Opens the window over the main window showing `number` and `status`,
    // centred and painted at once.
    virtual std::unique_ptr<DialStatusWindow> openDialStatus(const QString& number,
                                                             const QString& status) = 0;
};
