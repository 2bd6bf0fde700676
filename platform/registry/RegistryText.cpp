#include "platform/registry/RegistryText.h"

#include <cstdio>
#include <cstdlib>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at the start of `text` (which must begin with '"') and
// advances past its closing quote; nothing when it is not well formed.
std::optional<std::string> takeQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"')
        return std::nullopt;
    std::string out;
    size_t i = 1;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            return std::nullopt;
        const char next = text[i + 1];
        if (next == '\\' || next == '"') {
            out += next;
            i += 2;
        } else if (next == 'x' && i + 3 < text.size() && hexDigit(text[i + 2]) >= 0 &&
                   hexDigit(text[i + 3]) >= 0) {
            out += char(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3]));
            i += 4;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool takePrefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Unsigned decimal or hex digits at the start of `text`, advancing past them.
std::optional<uint64_t> takeNumber(std::string_view& text, int base, size_t maxDigits) {
    uint64_t value = 0;
    size_t n = 0;
    while (n < text.size() && n < maxDigits) {
        const int d = hexDigit(text[n]);
        if (d < 0 || d >= base)
            break;
        value = value * uint64_t(base) + uint64_t(d);
        ++n;
    }
    if (n == 0)
        return std::nullopt;
    text.remove_prefix(n);
    return value;
}

std::optional<RegValue> parseValue(std::string_view text) {
    if (takePrefix(text, "dword:")) {
        // dword:%08x (%d): the hex carries the value; the decimal must agree.
        if (text.size() < 8)
            return std::nullopt;
        std::string_view hex = text.substr(0, 8);
        const auto value = takeNumber(hex, 16, 8);
        if (!value || !hex.empty())
            return std::nullopt;
        text.remove_prefix(8);
        char expected[24];
        std::snprintf(expected, sizeof expected, " (%d)", int32_t(uint32_t(*value)));
        if (text != expected)
            return std::nullopt;
        return RegValue::fromDword(uint32_t(*value));
    }
    RegValue value;
    if (takePrefix(text, "sz["))
        value.type = RegType::String;
    else if (takePrefix(text, "dword["))
        value.type = RegType::Dword;
    else if (takePrefix(text, "binary["))
        value.type = RegType::Binary;
    else
        return std::nullopt;
    const auto length = takeNumber(text, 10, 10);
    if (!length || !takePrefix(text, "]:"))
        return std::nullopt;
    auto bytes = takeQuoted(text);
    if (!bytes || !text.empty() || bytes->size() != *length)
        return std::nullopt;
    value.data = std::move(*bytes);
    return value;
}

} // namespace

std::optional<RegKeyPath> parseRegKeyPath(std::string_view text) {
    const size_t slash = text.find('\\');
    const std::string_view root = text.substr(0, slash);
    RegKeyPath key;
    if (root == "HKCU" || root == "HKEY_CURRENT_USER")
        key.root = RegistryRoot::CurrentUser;
    else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE")
        key.root = RegistryRoot::LocalMachine;
    else
        return std::nullopt;
    key.path = slash == std::string_view::npos ? std::string() : std::string(text.substr(slash + 1));
    return key;
}

std::string escapeRegText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

std::string describeRegValue(const RegValue& v) {
    if (v.type == RegType::Dword) {
        if (auto d = v.dword()) {
            char buf[48];
            std::snprintf(buf, sizeof buf, "dword:%08x (%d)", *d, int32_t(*d));
            return buf;
        }
    }
    const char* type = v.type == RegType::String ? "sz" : v.type == RegType::Dword ? "dword" : "binary";
    return std::string(type) + "[" + std::to_string(v.data.size()) + "]:\"" + escapeRegText(v.data) + "\"";
}

RegTextLine parseRegTextLine(std::string_view line) {
    RegTextLine result;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
        result.kind = RegTextLine::Kind::Blank;
        return result;
    }
    if (line.front() == '[') {
        if (line.back() != ']')
            return result;
        auto key = parseRegKeyPath(line.substr(1, line.size() - 2));
        if (!key)
            return result;
        result.key = std::move(*key);
        result.kind = RegTextLine::Kind::Key;
        return result;
    }
    line.remove_prefix(line.find_first_not_of(" \t"));
    auto name = takeQuoted(line);
    if (!name || !takePrefix(line, " = "))
        return result;
    auto value = parseValue(line);
    if (!value)
        return result;
    result.value = {std::move(*name), std::move(*value)};
    result.kind = RegTextLine::Kind::Value;
    return result;
}
