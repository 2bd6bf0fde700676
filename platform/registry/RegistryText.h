#pragma once

// The store as text: what `dsreg export` writes and `dsreg import` reads.
//
//   [HKCU\software\Kestrel-Lookout\Dialscope\Setting]
//     "CheckTimer" = dword:0000001e (30)
//     "Class Name" = sz[12]:"Dial \"scope\""
//
// A key line names the key with its root; each value line below it gives the
// name and the value. A 4-byte DWORD shows as hex with its signed decimal;
// every other value shows its type ("sz", "dword" or "binary", the last also
// for the types without a name here), its length and its bytes, quoted, with
// "\\", "\"" and "\xHH" for a backslash, a quote and any byte that is not
// printable ASCII. Names are quoted the same way.
//
// Parsing is pure and total: any line either parses or is rejected, and a
// value's stated length must match the bytes it gives.

#include "platform/registry/RegistryStore.h"

#include <optional>
#include <string>
#include <string_view>

// A key given with its root: "HKCU\path" or "HKLM\path" (also spelled
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE); "HKCU" alone is the root itself.
struct RegKeyPath {
    RegistryRoot root = RegistryRoot::CurrentUser;
    std::string path;
};
std::optional<RegKeyPath> parseRegKeyPath(std::string_view text);

// Bytes quoted as the text shows them (without the surrounding quotes).
std::string escapeRegText(std::string_view bytes);
// A value as the text shows it after " = ".
std::string describeRegValue(const RegValue& value);

struct RegTextLine {
    enum class Kind { Blank, Key, Value, Bad };
    Kind kind = Kind::Bad;
    RegKeyPath key;   // Kind::Key
    NamedValue value; // Kind::Value
};
// One line of the text, without its line break.
RegTextLine parseRegTextLine(std::string_view line);
