#include "app/core/WireText.h"

#include <QStringDecoder>

#include <algorithm>

namespace WireText {

QString toDisplay(std::string_view bytes) {
    const size_t length = bytes.find('\0');
    const size_t n = length == std::string_view::npos ? bytes.size() : length;
    return QString::fromLatin1(bytes.data(), qsizetype(n));
}

std::optional<std::string> toWire(const QString& text) {
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (QChar c : text) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
        bytes.push_back(char(uint8_t(c.unicode())));
    }
    return bytes;
}

std::string fromStoredCredential(std::string_view bytes) {
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return uint8_t(c) < 0x80; });
    if (ascii)
        return std::string(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (utf8.hasError())
        return std::string(bytes); // not UTF-8: already single bytes
    return toWire(decoded).value_or(std::string(bytes));
}

} // namespace WireText
