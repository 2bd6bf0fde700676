// The Purgekit exports. Each one builds its key paths, opens its own store
// object, does its deletes or its one write and returns; nothing is shared
// between calls or threads. No exception leaves the library: a failure inside
// (even running out of memory) is a 0 result.
#include "purgekit/purgekit.h"

#include "platform/registry/RegistryStore.h"

#include <initializer_list>

namespace {

constexpr uint32_t kNtsc = 0;
constexpr uint32_t kPal = 1;

template <typename Body> int32_t guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return 0;
    }
}

// Deleting never creates a store that is not there. Without a folder for the
// per-user store (no HOME, no XDG_CONFIG_HOME) nothing can be done: 0.

// Deletes each key in turn; a key that is missing or still has subkeys is
// left and the next one is tried. Always 1 once the store's place is known.
int32_t deleteEach(std::initializer_list<const char*> paths) {
    return guarded([&] {
        const std::string file = RegistryStore::defaultPath(RegistryRoot::CurrentUser);
        if (file.empty())
            return 0;
        RegistryStore store(file, RegistryStore::OpenMode::ExistingOnly);
        for (const char* path : paths)
            store.deleteKey(path);
        return 1;
    });
}

int32_t deleteOne(const char* path) {
    return guarded([&] {
        const std::string file = RegistryStore::defaultPath(RegistryRoot::CurrentUser);
        if (file.empty())
            return 0;
        RegistryStore store(file, RegistryStore::OpenMode::ExistingOnly);
        return store.deleteKey(path) ? 1 : 0;
    });
}

// Creates the key (with its parents) and writes one DWORD; only a key that
// cannot be created or opened makes the result 0.
int32_t writeDword(RegistryRoot root, const char* path, const char* valueName, uint32_t value) {
    return guarded([&] {
        const std::string file = RegistryStore::defaultPath(root);
        if (file.empty())
            return 0;
        RegistryStore store(file);
        RegistryKey key = store.createKey(path);
        if (!key)
            return 0;
        key.setDword(valueName, value);
        return 1;
    });
}

int32_t setDecoder(const char* path, uint32_t standard) {
    return writeDword(RegistryRoot::CurrentUser, path, "VideoDecoder", standard);
}

} // namespace

extern "C" {

int32_t DelaMLookoutSet(void) {
    return deleteEach({"software\\aMultiLookout For Local Transmitter\\MultiLookout",
                       "software\\aMultiLookout For Local Transmitter\\Default",
                       "software\\aMultiLookout For Local Transmitter\\OpenVideo"});
}

int32_t DeleMLookoutSet(void) {
    return deleteEach({"software\\MultiLookout For Local Transmitter\\MultiLookout",
                       "software\\MultiLookout For Local Transmitter\\Default",
                       "software\\MultiLookout For Local Transmitter\\OpenVideo"});
}

int32_t DelaLookoutSet(void) {
    return deleteEach({"software\\aLookout For Local Transmitter\\Lookout",
                       "software\\aLookout For Local Transmitter\\Default",
                       "software\\aLookout For Local Transmitter\\OpenVideo"});
}

int32_t DeleLookoutSet(void) {
    return deleteEach({"software\\Lookout For Local Transmitter\\Lookout",
                       "software\\Lookout For Local Transmitter\\Default",
                       "software\\Lookout For Local Transmitter\\OpenVideo"});
}

int32_t DeluLookoutSet(void) {
    return deleteEach({"software\\uLookout For Local Transmitter\\Lookout",
                       "software\\uLookout For Local Transmitter\\Default",
                       "software\\uLookout For Local Transmitter\\OpenVideo"});
}

int32_t DelKestrelSet(void) {
    return deleteOne("software\\Kestrel-Lookout\\Kestrel");
}

int32_t DelNightjarSet(void) {
    return deleteOne("software\\Nightjar-Lookout\\Nightjar");
}

int32_t SeteLookoutNTSC(void) {
    return setDecoder("Software\\Lookout For Local Transmitter\\Lookout\\Setting", kNtsc);
}

int32_t SeteLookoutPAL(void) {
    return setDecoder("Software\\Lookout For Local Transmitter\\Lookout\\Setting", kPal);
}

int32_t SetaLookoutNTSC(void) {
    return setDecoder("Software\\aLookout For Local Transmitter\\Lookout\\Setting", kNtsc);
}

int32_t SetaLookoutPAL(void) {
    return setDecoder("Software\\aLookout For Local Transmitter\\Lookout\\Setting", kPal);
}

int32_t SetaMLookoutNTSC(void) {
    return setDecoder("Software\\aMultiLookout For Local Transmitter\\MultiLookout\\Setting", kNtsc);
}

int32_t SetaMLookoutPAL(void) {
    return setDecoder("Software\\aMultiLookout For Local Transmitter\\MultiLookout\\Setting", kPal);
}

int32_t SeteMLookoutNTSC(void) {
    return setDecoder("Software\\MultiLookout For Local Transmitter\\MultiLookout\\Setting", kNtsc);
}

int32_t SeteMLookoutPAL(void) {
    return setDecoder("Software\\MultiLookout For Local Transmitter\\MultiLookout\\Setting", kPal);
}

int32_t SetuLookoutReg(const char* valueName, uint32_t value) {
    if (!valueName)
        return 0;
    return writeDword(RegistryRoot::LocalMachine, "software\\R8K2", valueName, value);
}

} // extern "C"
