#pragma once

// The write steps of the crash test, shared by the writer process that runs
// them and the test that checks their effects after killing it.
//
// Step i: i%4 == 0 creates "crash\K<i>" with DWORD "Index" = i; 1 writes the
// string "S<i>" (i in decimal with a terminating zero) on "crash"; 2 creates
// "crash\B<i>" with DWORDs "a" and "b" = i in one batch; 3 deletes
// "crash\K<i-3>".

#include "platform/registry/RegistryStore.h"

#include <cstdint>
#include <string>

namespace crashsteps {

inline std::string text(uint32_t i) {
    return std::to_string(i) + std::string(1, '\0');
}

inline bool run(RegistryStore& store, uint32_t i) {
    std::string n = std::to_string(i);
    switch (i % 4) {
    case 0: {
        RegistryKey key = store.createKey("crash\\K" + n);
        return key && key.setDword("Index", i);
    }
    case 1:
        return store.createKey("crash").setString("S" + n, text(i));
    case 2: {
        WriteBatch batch(store);
        RegistryKey key = store.createKey("crash\\B" + n);
        return key && key.setDword("a", i) && key.setDword("b", i) && batch.commit();
    }
    default:
        // The key may be missing when its creation was cut off by a kill.
        store.deleteKey("crash\\K" + std::to_string(i - 3));
        return true;
    }
}

// What a completed step leaves behind. `deleted` says whether step i+3 (which
// deletes the key of a step i%4 == 0) completed; `mayBeDeleted` whether it may
// have run without being reported.
inline bool holds(RegistryStore& store, uint32_t i, bool deleted, bool mayBeDeleted) {
    std::string n = std::to_string(i);
    switch (i % 4) {
    case 0: {
        RegistryKey key = store.openKey("crash\\K" + n);
        if (deleted || (mayBeDeleted && !key))
            return !key;
        auto value = key.queryValue("Index");
        return value && value->dword() == i;
    }
    case 1: {
        auto value = store.openKey("crash").queryValue("S" + n);
        return value && value->type == RegType::String && value->data == text(i);
    }
    case 2: {
        RegistryKey key = store.openKey("crash\\B" + n);
        auto a = key.queryValue("a");
        auto b = key.queryValue("b");
        return a && b && a->dword() == i && b->dword() == i;
    }
    default:
        return true;
    }
}

} // namespace crashsteps
