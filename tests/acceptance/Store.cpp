#include "tests/acceptance/Store.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/Poll.h"

#include <cstdlib>
#include <sstream>

namespace {

// Undoes dsreg's escapes: \\, \" and \xNN.
std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
        } else if (text[i + 1] == 'x' && i + 3 < text.size()) {
            out += char(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += text[++i];
        }
    }
    return out;
}

} // namespace

Store::Store(std::string registryDir)
    : m_environment{"DIALSCOPE_REGISTRY_DIR=" + registryDir} {}

std::optional<std::string> Store::describe(const std::string& key, const std::string& value) const {
    const ToolResult result = runTool({kDsregPath, "query", key, value}, m_environment);
    if (!result.ok())
        return std::nullopt;
    std::string line = result.output;
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

std::optional<std::string> Store::text(const std::string& key, const std::string& value) const {
    const std::optional<std::string> line = describe(key, value);
    if (!line || line->rfind("sz[", 0) != 0)
        return std::nullopt;
    const size_t open = line->find(":\"");
    if (open == std::string::npos || line->back() != '"')
        return std::nullopt;
    return unescaped(line->substr(open + 2, line->size() - open - 3));
}

std::optional<int32_t> Store::dword(const std::string& key, const std::string& value) const {
    const std::optional<std::string> line = describe(key, value);
    if (!line || line->rfind("dword:", 0) != 0)
        return std::nullopt;
    const size_t open = line->find('(');
    if (open == std::string::npos)
        return std::nullopt;
    return int32_t(std::stol(line->substr(open + 1)));
}

std::vector<std::string> Store::subkeys(const std::string& key) const {
    std::vector<std::string> names;
    const ToolResult result = runTool({kDsregPath, "list", key}, m_environment);
    std::istringstream lines(result.ok() ? result.output : std::string());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line.back() == '\\' && line.front() != ' ')
            names.push_back(line.substr(0, line.size() - 1));
    return names;
}

std::string Store::exportTree(const std::string& key) const {
    const ToolResult result = runTool({kDsregPath, "export", key}, m_environment);
    return result.ok() ? result.output : std::string();
}

bool Store::setText(const std::string& key, const std::string& value, const std::string& data) const {
    return runTool({kDsregPath, "set", key, value, "sz", data}, m_environment).ok();
}
