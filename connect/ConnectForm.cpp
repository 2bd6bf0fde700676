#include "connect/ConnectForm.h"

#include "app/core/WireText.h"

#include <algorithm>

namespace ConnectForm {

namespace {

// The bytes the login sends. The edits accept only Latin-1; a character from
// anywhere else becomes '?' rather than several bytes.
std::string storedCredential(const QString& text) {
    return WireText::toWire(text).value_or(text.toLatin1().toStdString());
}

} // namespace

Fields fromStored(const CallSettings& stored) {
    Fields fields;
    fields.savePassword = stored.save == 1;
    fields.user = WireText::toDisplay(WireText::fromStoredCredential(stored.user));
    fields.dial = QString::fromStdString(stored.dial);
    if (fields.savePassword)
        fields.password = WireText::toDisplay(WireText::fromStoredCredential(stored.password));
    fields.imageSize = stored.formatSize == 1 ? 1 : 0;
    fields.quality = stored.quality >= kQualityMin && stored.quality <= kQualityMax ? stored.quality : 30;
    return fields;
}

CallSettings toStored(const Fields& fields) {
    CallSettings stored;
    stored.user = storedCredential(fields.user);
    stored.password = storedCredential(fields.password);
    stored.dial = fields.dial.toStdString();
    stored.formatSize = std::max(fields.imageSize, 0);
    stored.quality = fields.quality;
    stored.save = fields.savePassword ? 1 : 0;
    return stored;
}

Problem check(const Fields& fields) {
    if (fields.user.isEmpty())
        return Problem::NoUser;
    if (fields.dial.isEmpty())
        return Problem::NoDial;
    return Problem::None;
}

std::optional<int> qualityAfter(SliderAction action, int position, int thumb) {
    switch (action) {
    case SliderAction::LineLeft:
        return std::max(position - 1, kQualityMin);
    case SliderAction::LineRight:
        return std::min(position + 1, kQualityMax);
    case SliderAction::PageLeft:
        return std::max(position - kQualityPage, kQualityMin);
    case SliderAction::PageRight:
        return std::min(position + kQualityPage, kQualityMax);
    case SliderAction::ThumbPosition:
        return thumb;
    case SliderAction::Other:
        break;
    }
    return std::nullopt;
}

QString qualityLabel(int quality) {
    return QString::asprintf("%3d", quality) + QStringLiteral(" %");
}

} // namespace ConnectForm
