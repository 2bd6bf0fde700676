#pragma once

// What the connect dialog shows and stores, without widgets.
//
// How it works: the dialog's fields are read from the "Call" values when it
// opens (the password only while "Save password" was checked, so an unchecked
// box hides it without forgetting it) and written back as a whole by Connect
// and Apply. The quality slider is driven by qualityAfter(): the dialog keeps
// its own copy of the position, moves it by one or ten within 0..100, or
// takes the thumb's position, and the label under it is qualityLabel() of the
// slider's value. Connect first checks the form (user name, then dial number).

#include "app/core/AppStore.h"

#include <QString>

#include <optional>

namespace ConnectForm {

inline constexpr int kUserLength = 20;
inline constexpr int kPasswordLength = 20;
inline constexpr int kDialLength = 30;
inline constexpr int kQualityMin = 0;
inline constexpr int kQualityMax = 100;
inline constexpr int kQualityPage = 10;

// The image sizes in list order; the index is the stored "FormatSize".
inline constexpr const char* kImageSizes[] = {"160X120", "320X240"};

struct Fields {
    QString user;
    QString password;
    QString dial;
    int imageSize = 1; // list index, -1 when nothing is selected
    int quality = 30;
    bool savePassword = false;
};

// The fields the dialog opens with.
Fields fromStored(const CallSettings& stored);
// The "Call" values to store for these fields (no selection stores size 0).
CallSettings toStored(const Fields& fields);

enum class Problem { None, NoUser, NoDial };
// The first missing required field: the user name, then the dial number.
Problem check(const Fields& fields);

// Scroll notifications of the horizontal quality slider.
enum class SliderAction { LineLeft, LineRight, PageLeft, PageRight, ThumbPosition, Other };

// The slider position after `action` from `position`; `thumb` is the position
// carried by a thumb notification. Nothing for any other notification: the
// position is then taken from the slider as it is.
std::optional<int> qualityAfter(SliderAction action, int position, int thumb);

// The label under the slider: the value right-aligned in three places and " %".
QString qualityLabel(int quality);

} // namespace ConnectForm
