#pragma once

// One patrol round over a list of sites, through the line control's normal
// dial path: for each site in order dial, log in with its own credentials,
// open every listed channel, keep the first picture of each as a 24-bit
// bitmap, optionally let each channel record for a while, hang up, next. A
// site that is busy or does not answer is tried once more at the end.
//
// How it works: a state machine driven by a short timer and by two
// notifications: the line control's call-end observer (busy, no answer, a
// dropped call) and the connection's frame observer (a picture drawn).
//
// A site calling in comes first, as a desk operator expects of an alarm: a
// site is dialled only while the line is open and free and has been quiet
// (no call, no ring) for `lineQuiet`, so a site that rings between two visits,
// or that found the line busy during a visit and calls again, gets through.
// A ring heard while a site is being dialled abandons that dial; the site is
// called again once the incoming call is over (it does not count as a failed
// attempt). A visit that is connected runs to its end (the line is busy then:
// nothing rings) and is bounded by the waits below. The incoming call is
// answered as usual by the line control; the round goes on after it. Channels
// open all at once when the site grants the open permission, else one after
// the other. Every wait has a bound (connection, first picture per channel).
// The file work of a round runs off this thread, in order, on one worker
// task at a time (the global thread pool): resolving the record folder and
// creating the round's folder, each picture, and at the round's end the
// report (PatrolReport) as <record folder>/patrol/<stamp>/report.json. A hung
// record volume holds up only that worker, never the timer or the line.
//
// UI thread only. The frame observer runs inside the connection's packet
// parsing, so it only stores what it sees; calls and hang-ups happen on the
// timer.

#include "link/Protocol.h"
#include "unattended/PatrolReport.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class ChannelTable;
class CommPort;
class LineManager;
struct CallEnd;

struct PatrolSite {
    QString name;
    QString number;
    LoginValues login;
};

class PatrolRunner {
public:
    struct Options {
        std::chrono::milliseconds tick{200};
        std::chrono::milliseconds connectTimeout{90000}; // dial to login
        std::chrono::milliseconds frameTimeout{60000};   // per channel
        std::chrono::milliseconds lineQuiet{10000};      // free line before each dial
        int recordSeconds = 0;                           // 0: no recording
        // File jobs waiting behind the one under way (a hung record volume)
        // beyond which a picture is not kept: its channel is reported without one.
        size_t maxPendingFiles = 64;
        // The record folder's stored text (ends with "/"), read on this
        // thread at the start of a round: it must not touch the disk.
        std::function<std::string()> recordFolder;
        // What that text stands for on disk (it may wait on the volume, and
        // may create the folder); called on the worker. Empty: the text as
        // it is.
        std::function<std::string(const std::string&)> resolveFolder;
        // Local time, for the round's stamp and the pictures' times.
        std::function<QDateTime()> now = [] {
            return QDateTime::currentDateTime();
        };
    };

    PatrolRunner(LineManager& lines, CommPort& port, const ChannelTable& channels, Options options);
    ~PatrolRunner();
    PatrolRunner(const PatrolRunner&) = delete;
    PatrolRunner& operator=(const PatrolRunner&) = delete;

    // Starts a round; false when one runs or the list is empty.
    bool Start(std::vector<PatrolSite> sites);
    // Ends the round: a call under way is hung up, the sites not yet called
    // are reported as stopped and the report is written.
    void Stop();
    bool running() const { return m_state != State::Idle; }
    // Seconds each channel records in the next rounds (0: none).
    void setRecordSeconds(int seconds) { m_options.recordSeconds = seconds; }
    // Runs when a round ended (also after Stop), with its report.
    void setFinished(std::function<void(const PatrolReport&)> finished) { m_finished = std::move(finished); }

    // Hooks: the line control's call-end observer, the connection's frame
    // observer and a rejected login.
    void onCallEnd(const CallEnd& end);
    void onFrame(int32_t channel, std::span<const uint8_t> picture);
    // True when OnFrame would keep a picture of `channel` now.
    bool wantsFrame(int32_t channel) const;
    void onLoginRejected();

    const PatrolReport& report() const { return m_report; }
    // The absolute folder of the current or last round; empty until the
    // worker has resolved the record folder.
    std::string roundFolder() const;
    void tick();

private:
    enum class State { Idle, WaitLine, Dialling, Channels, Recording };
    struct RoundFiles;
    struct WorkQueue;
    // Dials of one site given up for rings before it counts as not reached.
    static constexpr int kMaxInterruptions = 5;
    struct ChannelWait {
        int32_t channel = 0;
        bool requested = false;
        bool done = false;
        std::chrono::steady_clock::time_point since{};
    };

    void dialNext();
    void siteFailed(const QString& reason, bool retry);
    // A ring was heard while the current site was dialled: give the dial up
    // and call the site again after the incoming call.
    void dialInterrupted();
    void finishSite();
    void openChannels();
    void requestNextChannel();
    void finish();
    PatrolSiteResult& current() { return m_report.sites[m_siteIndex]; }

    LineManager& m_lines;
    CommPort& m_port;
    const ChannelTable& m_channels;
    Options m_options;
    QTimer m_timer;
    QObject m_context;

    State m_state = State::Idle;
    std::vector<PatrolSite> m_sites;  // what the round calls, retries appended
    std::vector<size_t> m_reportSlot; // per entry of m_sites: its index in the report
    std::vector<size_t> m_retry;      // entries of m_sites to call once more at the end
    size_t m_next = 0;                // next entry of m_sites
    size_t m_siteIndex = 0;           // report entry of the site under way
    bool m_retriesQueued = false;
    std::vector<ChannelWait> m_waits;
    bool m_allAtOnce = true;
    std::chrono::steady_clock::time_point m_since{};
    std::chrono::steady_clock::time_point m_busyAt{}; // the line was last seen in use
    int m_interrupted = 0;                            // dials of this site given up for a ring
    std::optional<QString> m_callEnded;               // reason the call under way ended, set by OnCallEnd
    PatrolReport m_report;
    std::shared_ptr<RoundFiles> m_files; // the current or last round's folders
    std::shared_ptr<WorkQueue> m_work;   // the file work, in order
    std::function<void(const PatrolReport&)> m_finished;
};
