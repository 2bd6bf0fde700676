#pragma once

// The per-user login start of the program on Linux desktops: an XDG autostart
// entry, $XDG_CONFIG_HOME/autostart/dialscope.desktop (or ~/.config/autostart
// when XDG_CONFIG_HOME is unset or not absolute), which desktop sessions read
// at log-in.
//
// How it works: install() writes a complete desktop entry whose Exec line runs
// the given program with no arguments, quoting and escaping the path as desktop
// entries require, through a temporary file renamed into place so that a
// session never reads half an entry; remove() deletes it.

#include <optional>
#include <string>
#include <string_view>

class AutostartEntry {
public:
    explicit AutostartEntry(std::string filePath)
        : m_filePath(std::move(filePath)) {}
    // The entry of the current user; its path is "" when neither
    // XDG_CONFIG_HOME nor HOME names a folder, and then nothing can be written.
    static AutostartEntry forCurrentUser();

    const std::string& filePath() const { return m_filePath; }

    bool install(const std::string& programPath) const;
    // True when no entry is left (also when there was none).
    bool remove() const;

    // The desktop entry that starts `programPath`; nothing for a path that an
    // Exec line cannot carry (a relative path or one with control characters).
    static std::optional<std::string> desktopFileText(std::string_view programPath);

private:
    std::string m_filePath;
};
