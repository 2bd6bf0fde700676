#pragma once

// Where the program keeps its state in the registry store, and the text rules
// shared by the stores of named entries (phone book, event records, clip index).
//
// How it works: the per-user root holds "software\Kestrel-Lookout"; below it
// the profile key "Dialscope" with its sections, and beside the profile the
// three entry stores, one subkey per entry. Entry texts are C strings to every
// reader: a load takes the bytes before the first zero byte and cuts them to
// fit a 260-byte buffer with its terminating zero, so no stored value, however
// long or unterminated, can make a reader run past its buffer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct RegValue;

namespace RegistryLayout {

inline constexpr std::string_view kProfileKey = "software\\Kestrel-Lookout\\Dialscope";
inline constexpr std::string_view kPhoneStore = "software\\Kestrel-Lookout\\RemotePhone";
inline constexpr std::string_view kEventStore = "software\\Kestrel-Lookout\\RemotePerson";
inline constexpr std::string_view kClipStore = "software\\Kestrel-Lookout\\RemoteRecord";
// Machine-wide: the program started at system log-in.
inline constexpr std::string_view kRunKey = "software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kRunValue = "Kestrel";

// Size of the buffers entry texts and entry key names are loaded into,
// terminating zero included.
inline constexpr size_t kLoadBuffer = 260;

// The text a C caller sees in these bytes: everything before the first zero.
std::string_view cText(std::string_view bytes);

// An entry text as stored: the C string's bytes, without terminating zero.
RegValue storeText(std::string_view text);

// A string value as a load reads it: its text, cut to kLoadBuffer - 1 bytes.
// Missing values and values that are not strings read as empty text.
std::string loadText(const RegValue* value);
// The same, taking the bytes out of a value that is no longer needed.
std::string takeText(RegValue& value);

// A 4-byte integer value; 0 when missing or of another size.
int32_t loadDword(const RegValue* value);

// Whether `name` can name an entry key: not empty, no "\" (which would make
// nested keys), no zero byte, and short enough to be enumerated back.
bool isEntryName(std::string_view name);

// Whether clips recorded into `folder` can be found again: the clip index
// keeps the folder with a closing "/" and loads it into a kLoadBuffer-byte
// buffer, so a longer folder would be cut and its clips neither played nor
// deleted.
bool fitsRecordFolder(std::string_view folder);

// store + "\" + name
std::string entryPath(std::string_view store, std::string_view name);

} // namespace RegistryLayout
