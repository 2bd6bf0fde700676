#pragma once

// The four values of the Options dialog, how they are read from the settings,
// how the two number fields are checked, and the order they are stored in.
//
// How it works: a missing or unusable stored number reads as the program's
// default (50 MB, 10 seconds), "VideoArrange" reads on unless stored as 0 and
// "AutoRun" only when stored as 1. A number field holds an unsigned decimal
// number, blanks around it allowed; anything else is refused with one message,
// a number outside the field's range with the other, bounds filled in.

#include <QString>

#include <cstdint>
#include <optional>

class AppStore;

struct OptionsValues {
    static constexpr uint32_t kLowSpaceMin = 0;
    static constexpr uint32_t kLowSpaceMax = 9999;
    static constexpr uint32_t kCheckSecondsMin = 1;
    static constexpr uint32_t kCheckSecondsMax = 300;

    bool autoArrange = true;
    uint32_t lowSpaceMB = 50;
    uint32_t checkSeconds = 10;
    bool autoRun = false;

    static OptionsValues read(AppStore& store);
    // Start at log-in first (it stores "AutoRun" itself), then "VideoArrange",
    // "LimitDiskSpace" and "CheckTimer".
    // False when the store refused any of the operator's own settings.
    bool store(AppStore& store) const;
};

// The outcome of checking one number field: the value, or the message to show.
struct NumberCheck {
    std::optional<uint32_t> value;
    QString message;
};

NumberCheck checkNumberField(const QString& text, uint32_t min, uint32_t max);
