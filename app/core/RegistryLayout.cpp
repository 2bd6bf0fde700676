#include "app/core/RegistryLayout.h"

#include "platform/registry/RegistryStore.h"

#include <algorithm>

namespace RegistryLayout {

std::string_view CText(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

namespace {

bool IsText(const RegValue& value) {
    return value.type == RegType::String || value.type == RegType::ExpandString;
}

size_t LoadLength(std::string_view bytes) {
    return std::min(CText(bytes).size(), kLoadBuffer - 1);
}

} // namespace

RegValue StoreText(std::string_view text) {
    return RegValue::fromString(CText(text));
}

std::string LoadText(const RegValue* value) {
    if (!value || !IsText(*value))
        return {};
    return value->data.substr(0, LoadLength(value->data));
}

std::string TakeText(RegValue& value) {
    if (!IsText(value))
        return {};
    value.data.resize(LoadLength(value.data));
    return std::move(value.data);
}

int32_t LoadDword(const RegValue* value) {
    return value ? int32_t(value->dword().value_or(0)) : 0;
}

bool IsEntryName(std::string_view name) {
    return !name.empty() && name.size() < kLoadBuffer && name.find('\\') == name.npos &&
           name.find('\0') == name.npos;
}

bool FitsRecordFolder(std::string_view folder) {
    const size_t stored = folder.size() + (folder.empty() || folder.back() != '/' ? 1 : 0);
    return stored < kLoadBuffer && folder.find('\0') == folder.npos;
}

std::string EntryPath(std::string_view store, std::string_view name) {
    std::string path(store);
    path += '\\';
    path += name;
    return path;
}

} // namespace RegistryLayout
