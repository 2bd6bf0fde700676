#include "tests/acceptance/SiteSim.h"

#include "tests/acceptance/AcceptancePaths.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

SiteSim::SiteSim(std::string folder, std::vector<std::string> options)
    : m_folder(std::move(folder))
    , m_link(m_folder + "/modem")
    , m_control(m_folder + "/sim.sock")
    , m_logPath(m_folder + "/sim.log")
    , m_options(std::move(options)) {}

SiteSim::~SiteSim() {
    if (m_process && m_process->running()) {
        m_process->kill(SIGTERM);
        m_process->wait();
    }
}

bool SiteSim::start() {
    std::vector<std::string> argv{kSiteSimPath, "--link", m_link, "--control", m_control, "--log", m_logPath};
    argv.insert(argv.end(), m_options.begin(), m_options.end());
    m_process = std::make_unique<ChildProcess>(argv);
    if (!m_process->running())
        return false;
    return waitUntil(
        [&] {
            std::error_code ignored;
            return std::filesystem::exists(m_link, ignored) && std::filesystem::exists(m_control, ignored);
        },
        kShortWaitMs, 50);
}

void SiteSim::unplug() {
    if (m_process && m_process->running()) {
        m_process->kill(SIGKILL);
        m_process->wait();
    }
    m_process.reset();
    std::error_code ignored;
    std::filesystem::remove(m_link, ignored);
    std::filesystem::remove(m_control, ignored);
}

std::optional<std::string> SiteSim::send(const std::string& command) const {
    const ToolResult result = runTool({kSiteSimPath, "--send", m_control, command});
    if (!result.ok())
        return std::nullopt;
    std::string reply = result.output;
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    return reply;
}

std::string SiteSim::log() const {
    std::ifstream file(m_logPath);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool SiteSim::waitForLog(const std::vector<std::string>& fragments, int timeoutMs) const {
    return waitUntil(
        [&] {
            std::istringstream lines(log());
            for (std::string line; std::getline(lines, line);) {
                bool all = true;
                for (const std::string& fragment : fragments)
                    all = all && line.find(fragment) != std::string::npos;
                if (all)
                    return true;
            }
            return false;
        },
        timeoutMs, 200);
}
