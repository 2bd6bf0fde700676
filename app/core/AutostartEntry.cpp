#include "app/core/AutostartEntry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::string_view kReservedInExec = " \t\n\"'\\><~|&;$*?#()`";

// The Exec argument for a path: quoted when it holds a reserved character,
// with '"', '`', '$' and '\' escaped inside the quotes; '%' doubled so it is no
// field code; then every '\' doubled again by the string escaping of desktop
// entry values (so a literal backslash takes four).
std::string execArgument(std::string_view path) {
    std::string argument;
    bool quote = path.find_first_of(kReservedInExec) != path.npos;
    if (quote)
        argument += '"';
    for (char c : path) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            argument += '\\';
        if (c == '%')
            argument += '%';
        argument += c;
    }
    if (quote)
        argument += '"';
    std::string escaped;
    for (char c : argument) {
        if (c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace

AutostartEntry AutostartEntry::forCurrentUser() {
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::string(home) + "/.config";
    else
        return AutostartEntry(std::string());
    return AutostartEntry(config + "/autostart/dialscope.desktop");
}

std::optional<std::string> AutostartEntry::desktopFileText(std::string_view programPath) {
    if (programPath.empty() || programPath.front() != '/')
        return std::nullopt;
    for (char c : programPath)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return std::nullopt;
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Dialscope\n"
                       "Comment=Remote video surveillance over the telephone network\n"
                       "Exec=";
    text += execArgument(programPath);
    text += "\n"
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
    return text;
}

bool AutostartEntry::install(const std::string& programPath) const {
    std::optional<std::string> text = desktopFileText(programPath);
    if (!text || m_filePath.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(m_filePath).parent_path(), error);
    if (error)
        return false;
    std::string temporary = m_filePath + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << *text;
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), m_filePath.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool AutostartEntry::remove() const {
    if (m_filePath.empty())
        return true;
    return std::remove(m_filePath.c_str()) == 0 || errno == ENOENT;
}
