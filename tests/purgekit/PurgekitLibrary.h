#pragma once

// The built libpurgekit.so as an outside program uses it: loaded with dlopen,
// each export found with dlsym by its name.

#include <cstdint>
#include <dlfcn.h>
#include <string>

class PurgekitLibrary {
public:
    using Export = int32_t (*)();
    using RegExport = int32_t (*)(const char*, uint32_t);

    explicit PurgekitLibrary(const char* path)
        : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~PurgekitLibrary() {
        if (m_handle)
            dlclose(m_handle);
    }
    PurgekitLibrary(const PurgekitLibrary&) = delete;
    PurgekitLibrary& operator=(const PurgekitLibrary&) = delete;

    bool loaded() const { return m_handle != nullptr; }
    // The export of that name, or nullptr.
    Export get(const std::string& name) const {
        return m_handle ? reinterpret_cast<Export>(dlsym(m_handle, name.c_str())) : nullptr;
    }
    RegExport setuLookoutReg() const {
        return m_handle ? reinterpret_cast<RegExport>(dlsym(m_handle, "SetuLookoutReg")) : nullptr;
    }
    // Calls the export of that name; -1 when it is missing.
    int32_t call(const std::string& name) const {
        Export fn = get(name);
        return fn ? fn() : -1;
    }

private:
    void* m_handle;
};
