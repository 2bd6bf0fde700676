#include "app/core/RegistryLayout.h"

#include "platform/registry/RegistryStore.h"

#include <algorithm>

namespace RegistryLayout {

std::string_view cText(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

namespace {

bool isText(const RegValue& value) {
    return value.type == RegType::String || value.type == RegType::ExpandString;
}

size_t loadLength(std::string_view bytes) {
    return std::min(cText(bytes).size(), kLoadBuffer - 1);
}

} // namespace

RegValue storeText(std::string_view text) {
    return RegValue::fromString(cText(text));
}

std::string loadText(const RegValue* value) {
    if (!value || !isText(*value))
        return {};
    return value->data.substr(0, loadLength(value->data));
}

std::string takeText(RegValue& value) {
    if (!isText(value))
        return {};
    value.data.resize(loadLength(value.data));
    return std::move(value.data);
}

int32_t loadDword(const RegValue* value) {
    return value ? int32_t(value->dword().value_or(0)) : 0;
}

bool isEntryName(std::string_view name) {
    return !name.empty() && name.size() < kLoadBuffer && name.find('\\') == name.npos &&
           name.find('\0') == name.npos;
}

bool fitsRecordFolder(std::string_view folder) {
    const size_t stored = folder.size() + (folder.empty() || folder.back() != '/' ? 1 : 0);
    return stored < kLoadBuffer && folder.find('\0') == folder.npos;
}

std::string entryPath(std::string_view store, std::string_view name) {
    std::string path(store);
    path += '\\';
    path += name;
    return path;
}

} // namespace RegistryLayout
