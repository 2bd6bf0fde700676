#pragma once

// Texts as the remote site and the settings store carry them: one byte per
// character, Latin-1 (ISO 8859-1), so every byte value is a character and
// every character up to U+00FF is one byte.
//
// How it works: toDisplay() is the one way a wire or stored text becomes a
// shown text (channel names, site records, clip locations, labels built from
// them); it stops at the first NUL, so a fixed-width field may be passed whole.
// toWire() is the way back for texts the operator types: it refuses any
// character outside Latin-1 instead of letting it turn into several bytes or a
// question mark. fromStoredCredential() reads the user name and password the
// connect dialog kept: earlier builds stored them as UTF-8, and such values
// are read back as the characters they were typed as, when every one of them
// fits in a byte.

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace WireText {

// The characters the operator may type into a field that goes on the wire,
// as a pattern for a line-edit validator: every Latin-1 character but NUL.
inline constexpr const char* kTypablePattern = "[\\x{01}-\\x{FF}]*";

// The shown text of single-byte text: each byte is one Latin-1 character; the
// text ends at the first NUL or at the end of `bytes`.
QString toDisplay(std::string_view bytes);

// The single bytes of `text`, or nothing when a character lies outside Latin-1.
std::optional<std::string> toWire(const QString& text);

// A stored user name or password as the bytes to send: UTF-8 written by earlier
// builds whose characters all fit in Latin-1 is converted; anything else (the
// normal case: Latin-1 bytes) is kept byte for byte.
std::string fromStoredCredential(std::string_view bytes);

} // namespace WireText
