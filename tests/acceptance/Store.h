#pragma once

// The program's settings store as support would inspect it: through the
// dsreg tool, run as a child process against the sandbox's store folder, so
// the scenarios see exactly what is on disk and never open the store
// themselves while the program may be writing it.
//
// How it works: keys are written as dsreg takes them ("HKCU\software\...");
// values come back parsed from dsreg's one-line descriptions (strings with
// their C escapes undone, DWORDs as numbers).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Store {
public:
    explicit Store(std::string registryDir);

    // The dsreg description of a value ("sz[9]:\"...\"", "dword:0000000a
    // (10)"), or nullopt when the key or value does not exist.
    std::optional<std::string> describe(const std::string& key, const std::string& value) const;
    std::optional<std::string> text(const std::string& key, const std::string& value) const;
    std::optional<int32_t> dword(const std::string& key, const std::string& value) const;
    // Names of the direct subkeys of `key`; empty when there are none or the
    // key does not exist.
    std::vector<std::string> subkeys(const std::string& key) const;
    // "dsreg export": the subtree as text; empty when the key does not exist.
    std::string exportTree(const std::string& key) const;
    // Sets a string value, for a scenario's preconditions.
    bool setText(const std::string& key, const std::string& value, const std::string& data) const;

private:
    std::vector<std::string> m_environment;
};
