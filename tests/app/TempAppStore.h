#pragma once

// An AppStore on fresh store files in a temporary folder, with the desktop's
// autostart folder pointed there too, so a test may switch auto run on.

#include "app/core/AppStore.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <optional>
#include <string>

class TempAppStore {
public:
    TempAppStore() {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            m_oldConfigHome = old;
        setenv("XDG_CONFIG_HOME", m_dir.file("config").c_str(), 1);
    }
    ~TempAppStore() {
        if (m_oldConfigHome)
            setenv("XDG_CONFIG_HOME", m_oldConfigHome->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    AppStore& store() { return m_store; }
    const TempDir& dir() const { return m_dir; }

private:
    TempDir m_dir;
    std::optional<std::string> m_oldConfigHome;
    RegistryStore m_user{m_dir.file("user.sqlite")};
    RegistryStore m_machine{m_dir.file("machine.sqlite")};
    AppStore m_store{m_user, m_machine};
};
