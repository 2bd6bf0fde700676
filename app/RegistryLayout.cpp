#include "RegistryLayout.h"

#include "RegistryStore.h"

namespace RegistryLayout {

std::string_view CText(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::string LoadText(const RegValue* value) {
    if (!value || (value->type != RegType::String && value->type != RegType::ExpandString))
        return {};
    std::string_view text = CText(value->data);
    return std::string(text.substr(0, kLoadBuffer - 1));
}

int32_t LoadDword(const RegValue* value) {
    return value ? int32_t(value->dword().value_or(0)) : 0;
}

bool IsEntryName(std::string_view name) {
    return !name.empty() && name.size() < kLoadBuffer && name.find('\\') == name.npos &&
           name.find('\0') == name.npos;
}

std::string EntryPath(std::string_view store, std::string_view name) {
    std::string path(store);
    path += '\\';
    path += name;
    return path;
}

} // namespace RegistryLayout
