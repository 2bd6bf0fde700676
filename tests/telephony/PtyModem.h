#pragma once

// A small Hayes modem on a pseudo-terminal for tests: the slave is published
// as a symlink, a thread plays the modem on the master side. It answers the
// commands the telephony service sends (with echo on until ATE0), dials to a
// scripted outcome per number, rings on request, switches to data after
// CONNECT, honours the "+++" escape between guard times and ATH0, and can
// hang up from the far end (a fresh pseudo-terminal replaces the link) or be
// unplugged (the link disappears). Behaviours for bad peers: silent, garbage.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PtyModem {
public:
    enum class Behaviour { Modem, Silent, Garbage };
    struct Options {
        Behaviour behaviour = Behaviour::Modem;
        std::string name = "Test V.34 Data Modem";
        int dialDelayMs = 30;
        int answerDelayMs = 30;
        int guardMs = 60;
        // Result line per dialled number; "" means the modem never answers the dial.
        std::map<std::string, std::string> outcomes;
        std::string defaultOutcome = "CONNECT 33600";
        std::string answerOutcome = "CONNECT 33600"; // "" : ATA never connects
        // Result lines sent in the same write as the OK of the set-up command.
        std::string afterSetupOk;
    };

    PtyModem(std::string link, Options options);
    explicit PtyModem(std::string link)
        : PtyModem(std::move(link), Options{}) {}
    ~PtyModem();
    PtyModem(const PtyModem&) = delete;
    PtyModem& operator=(const PtyModem&) = delete;

    const std::string& Link() const { return m_link; }

    void ring();
    void sendData(const std::string& bytes);
    void hangUpFarEnd();
    void unplug();
    void setBehaviour(Behaviour behaviour);

    // What the modem saw: command lines (offline), escapes, online bytes.
    std::vector<std::string> commands() const;
    int countCommands(const std::string& prefix) const;
    int escapes() const;
    std::string data() const;
    bool online() const;

private:
    void publish();
    void run();
    void post(std::function<void()> action);
    void write(const std::string& text);
    void result(const std::string& text);
    void onCommandLine(const std::string& line);
    void onBytes(const char* data, std::size_t size);
    void closeMaster();

    const std::string m_link;
    Options m_options;
    int m_wake = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::deque<std::function<void()>> m_actions;
    std::vector<std::string> m_commands;
    std::string m_data;
    int m_escapes = 0;
    bool m_online = false;

    // Modem thread only.
    int m_master = -1;
    int m_slave = -1;
    bool m_echo = true;
    bool m_commandMode = true;
    std::string m_line;
    long long m_dueAt = 0; // steady ms of a pending dial or answer outcome, 0 = none
    std::string m_dueResult;
    long long m_lastDataAt = 0;
    long long m_plusAt = 0; // when "+++" completed, 0 = not pending
    int m_plusCount = 0;
};
