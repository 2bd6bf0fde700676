// The telephony service against modems on real pseudo-terminals.
#include "platform/telephony/HayesTelephony.h"
#include "tests/support/TempDir.h"
#include "tests/telephony/PtyModem.h"
#include "tests/telephony/TelephonyTestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tel;

namespace {

HayesTimings shortTimings() {
    HayesTimings t;
    t.probeAnswerMs = 150;
    t.commandMs = 500;
    t.guardMs = 90;
    t.dtrDropMs = 50;
    t.ringGapMs = 400;
    t.answerMs = 1000;
    t.carrierPollMs = 50;
    t.hotplugSettleMs = 50;
    t.connectMs = 300;
    return t;
}

std::string readFor(int fd, int ms) {
    std::string got;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return got;
}

class HayesTelephonyTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) { return dir.file(name); }

    void Start(std::vector<std::string> paths, std::vector<std::string> patterns = {}) {
        PortSources sources;
        sources.explicitPaths = std::move(paths);
        sources.scanPatterns = std::move(patterns);
        service = std::make_unique<HayesTelephony>(sources, shortTimings());
        std::uint32_t version = 0x00020000;
        ASSERT_EQ(service->Initialize(
                      "Lookout-Remote", [this](const LineMessage& m) { messages.push_back(m); }, app, numDevs,
                      version),
                  LINEERR_OK);
    }
    Line openModem(std::uint32_t device, PtyModem& modem) {
        Line line = 0;
        EXPECT_EQ(service->Open(app, device, line, 0x00010004, 6, LINEMEDIAMODE_DATAMODEM), LINEERR_OK);
        service->setStatusMessages(line, 0x00BFFFFF, 0x1FF);
        EXPECT_TRUE(waitUntil([&] { return modem.countCommands("ATE0V1") == 1; }, 2000));
        runEventsFor(30);
        return line;
    }
    // Waits for a message of `kind` (and call state `state` when given); returns it.
    std::optional<LineMessage> await(LineMessageKind kind, std::uint32_t state = 0, int ms = 3000) {
        std::optional<LineMessage> found;
        waitUntil(
            [&] {
                for (std::size_t i = 0; i < messages.size(); ++i) {
                    if (messages[i].kind == kind && (state == 0 || messages[i].param1 == state)) {
                        found = messages[i];
                        messages.erase(messages.begin(), messages.begin() + static_cast<long>(i) + 1);
                        return true;
                    }
                }
                return false;
            },
            ms);
        return found;
    }
    std::int32_t awaitReply(std::int32_t request) {
        EXPECT_GT(request, 0);
        std::optional<LineMessage> reply = await(LINE_REPLY);
        if (!reply)
            return 1;
        EXPECT_EQ(static_cast<std::int32_t>(reply->param1), request);
        return static_cast<std::int32_t>(reply->param2);
    }
    Call Dial(Line line, const std::string& number, std::uint32_t noAnswerS = 30) {
        CallParams params;
        params.noAnswerTimeout = noAnswerS;
        Call call = 0;
        const std::int32_t request = service->makeCall(line, call, number, 0, params);
        EXPECT_EQ(awaitReply(request), LINEERR_OK);
        return call;
    }

    TempDir dir{"dialscope-hayes"};
    std::unique_ptr<HayesTelephony> service;
    std::vector<LineMessage> messages;
    LineApp app = 0;
    std::uint32_t numDevs = 0;
};

// ---- Devices ----

TEST_F(HayesTelephonyTest, ListsPortsOnceAndTellsModemsFromSilentAndGarbagePorts) {
    PtyModem::Options silentOptions, garbageOptions;
    silentOptions.behaviour = PtyModem::Behaviour::Silent;
    garbageOptions.behaviour = PtyModem::Behaviour::Garbage;
    PtyModem silent(Path("silent"), silentOptions);
    PtyModem garbage(Path("garbage"), garbageOptions);
    PtyModem modem(Path("modem"));
    ASSERT_EQ(::symlink(modem.Link().c_str(), Path("alias").c_str()), 0);

    QElapsedTimer elapsed;
    elapsed.start();
    Start({silent.Link(), Path("missing"), garbage.Link(), modem.Link(), Path("alias")});
    EXPECT_LT(elapsed.elapsed(), 1200); // probed at once, not one after the other
    ASSERT_EQ(numDevs, 3u);

    LineDevCaps caps;
    for (std::uint32_t device : {0u, 1u}) {
        ASSERT_EQ(service->devCaps(app, device, 0x00010004, caps), LINEERR_OK);
        EXPECT_EQ(caps.lineName, service->devicePath(device));
        EXPECT_EQ(caps.bearerModes | caps.mediaModes | caps.lineFeatures, 0u);
    }
    ASSERT_EQ(service->devCaps(app, 2, 0x00010004, caps), LINEERR_OK);
    EXPECT_EQ(caps.lineName, "Test V.34 Data Modem");
    EXPECT_EQ(caps.stringFormat, StringFormat::Ascii);
    EXPECT_TRUE(caps.bearerModes & LINEBEARERMODE_VOICE);
    EXPECT_TRUE(caps.mediaModes & LINEMEDIAMODE_DATAMODEM);
    EXPECT_TRUE(caps.lineFeatures & LINEFEATURE_MAKECALL);

    DeviceIcon icon;
    ASSERT_EQ(service->icon(2, icon), LINEERR_OK);
    EXPECT_EQ(icon, DeviceIcon::DataModem);
    ASSERT_EQ(service->icon(0, icon), LINEERR_OK);
    EXPECT_EQ(icon, DeviceIcon::SerialPort);
    EXPECT_EQ(service->icon(3, icon), LINEERR_BADDEVICEID);

    std::uint32_t version = 0;
    EXPECT_EQ(service->negotiateApiVersion(app, 2, 0x00010004, 0x00010004, version), LINEERR_OK);
    EXPECT_EQ(version, 0x00010004u);
    EXPECT_EQ(service->negotiateApiVersion(app, 2, 0x00030000, 0x00030000, version),
              LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(service->negotiateApiVersion(app, 7, 0x00010004, 0x00010004, version), LINEERR_BADDEVICEID);

    Line line = 0;
    EXPECT_EQ(service->Open(app, 0, line, 0x00010004, 6, LINEMEDIAMODE_DATAMODEM), LINEERR_NODEVICE);
}

// A loopback TCP socket bound to a free port: listening (accepts into its
// backlog, answers nothing) or not (connections are refused).
int loopbackSocket(bool listening, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (listening)
        ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    port = ntohs(addr.sin_port);
    return fd;
}

TEST_F(HayesTelephonyTest, NetworkModemsThatCannotBeReachedAreLinesThatDoNotAnswer) {
    int refusedPort = 0, silentPort = 0;
    const int refused = loopbackSocket(false, refusedPort);
    const int silent = loopbackSocket(true, silentPort);
    const std::string refusedUrl = "tcp://127.0.0.1:" + std::to_string(refusedPort);
    const std::string silentUrl = "rfc2217://127.0.0.1:" + std::to_string(silentPort);
    const std::string rawSilentUrl = "tcp://127.0.0.1:" + std::to_string(silentPort);

    QElapsedTimer elapsed;
    elapsed.start();
    Start({refusedUrl, silentUrl, rawSilentUrl, refusedUrl});
    // Probed at once, each within the connect time-out and its answer time.
    EXPECT_LT(elapsed.elapsed(), 1500);
    ASSERT_EQ(numDevs, 3u); // listed once each, reachable or not
    LineDevCaps caps;
    for (std::uint32_t device = 0; device < numDevs; ++device) {
        ASSERT_EQ(service->devCaps(app, device, 0x00010004, caps), LINEERR_OK);
        EXPECT_EQ(caps.lineName, service->devicePath(device));
        EXPECT_EQ(caps.mediaModes, 0u);
        Line line = 0;
        EXPECT_EQ(service->Open(app, device, line, 0x00010004, 6, LINEMEDIAMODE_DATAMODEM), LINEERR_NODEVICE);
    }
    EXPECT_EQ(service->devicePath(1), silentUrl);
    ::close(refused);
    ::close(silent);
}

// The operator's network modems come after every other device. One that did
// not answer is not connected to again by a plain Initialize (it would hold
// the caller for the connect time-out each time); Discover, run on a worker,
// tries it again and finds the modem once the host accepts.
TEST_F(HayesTelephonyTest, OperatorsNetworkModemsComeLastAndAnUnansweredOneIsTriedAgainByDiscover) {
    PtyModem modem(Path("modem"));
    int port = 0;
    const int server = loopbackSocket(false, port); // bound, not yet accepting
    const std::string url = "tcp://127.0.0.1:" + std::to_string(port);
    PortSources sources;
    sources.explicitPaths = {modem.Link()};
    service = std::make_unique<HayesTelephony>(sources, shortTimings());
    service->setNetworkModems({url, "not a url", modem.Link()});
    EXPECT_FALSE(service->hasUnansweredNetworkModems());
    const auto initialize = [this] {
        std::uint32_t version = 0x00020000;
        return service->Initialize(
            "Lookout-Remote", [this](const LineMessage& m) { messages.push_back(m); }, app, numDevs, version);
    };
    ASSERT_EQ(initialize(), LINEERR_OK);
    ASSERT_EQ(numDevs, 2u);
    EXPECT_EQ(service->devicePath(0), modem.Link());
    EXPECT_EQ(service->devicePath(1), url);
    EXPECT_TRUE(service->hasUnansweredNetworkModems());

    // The host starts accepting and answers like a modem, counting connections.
    ASSERT_EQ(::listen(server, 4), 0);
    std::atomic<int> accepted{0};
    std::atomic<bool> stop{false};
    std::thread host([&] {
        while (!stop) {
            pollfd p{server, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const int fd = ::accept(server, nullptr, nullptr);
            ++accepted;
            std::string line;
            while (!stop) {
                pollfd q{fd, POLLIN, 0};
                if (poll(&q, 1, 20) <= 0)
                    continue;
                char buffer[256];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                line.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t cr; (cr = line.find('\r')) != std::string::npos; line.erase(0, cr + 1))
                    [[maybe_unused]] const ssize_t w = ::write(fd, "\r\nOK\r\n", 6);
            }
            ::close(fd);
        }
    });

    ASSERT_EQ(service->Shutdown(app), LINEERR_OK);
    ASSERT_EQ(initialize(), LINEERR_OK); // the known answer stands: no connection
    EXPECT_EQ(accepted, 0);
    EXPECT_TRUE(service->hasUnansweredNetworkModems());
    ASSERT_EQ(service->Shutdown(app), LINEERR_OK);

    bool found = false;
    service->discover([&] { found = true; });
    ASSERT_TRUE(waitUntil([&] { return found; }, 3000));
    ASSERT_EQ(initialize(), LINEERR_OK);
    EXPECT_EQ(accepted, 1);
    EXPECT_FALSE(service->hasUnansweredNetworkModems());
    LineDevCaps caps;
    ASSERT_EQ(service->devCaps(app, 1, 0x00010004, caps), LINEERR_OK);
    EXPECT_TRUE(caps.mediaModes & LINEMEDIAMODE_DATAMODEM);

    // A removed entry is no longer listed.
    ASSERT_EQ(service->Shutdown(app), LINEERR_OK);
    service->setNetworkModems({});
    ASSERT_EQ(initialize(), LINEERR_OK);
    EXPECT_EQ(numDevs, 1u);
    stop = true;
    host.join();
    ::close(server);
}

TEST_F(HayesTelephonyTest, OpeningTheLineSetsTheModemUpOnce) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    EXPECT_EQ(modem.countCommands("ATZ"), 1);
    EXPECT_EQ(modem.countCommands("ATE0V1&C1&D2S0=0"), 1);
    Line second = 0;
    EXPECT_EQ(service->Open(app, 0, second, 0x00010004, 6, LINEMEDIAMODE_DATAMODEM), LINEERR_RESOURCEUNAVAIL);
    AddressStatus status;
    ASSERT_EQ(service->addressStatus(line, 0, status), LINEERR_OK);
    EXPECT_TRUE(status.addressFeatures & LINEADDRFEATURE_MAKECALL);
}

// ---- Dialing ----

TEST_F(HayesTelephonyTest, DialledCallConnectsAndItsDataHandleCarriesBytesBothWays) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    const Call call = Dial(line, "555-01 01");
    EXPECT_TRUE(waitUntil([&] { return modem.countCommands("ATDT5550101") == 1; }, 1000));
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_DIALING));
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_PROCEEDING));
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_CONNECTED));

    int fd = -1;
    EXPECT_EQ(service->id(call, LINECALLSELECT_CALL, "comm/other", fd), LINEERR_INVALDEVICECLASS);
    ASSERT_EQ(service->id(call, LINECALLSELECT_CALL, kDataModemClass, fd), LINEERR_OK);
    ASSERT_EQ(::write(fd, "\x02login\x03", 7), 7);
    ASSERT_TRUE(waitUntil([&] { return modem.data() == "\x02login\x03"; }, 2000));
    modem.sendData("site-bytes");
    EXPECT_EQ(readFor(fd, 300).find("site-bytes") != std::string::npos, true);
    ::close(fd);

    // Dropping on a port without modem lines: escape between guard times, then ATH0.
    ASSERT_EQ(awaitReply(service->drop(call)), LINEERR_OK);
    EXPECT_EQ(modem.escapes(), 1);
    EXPECT_EQ(modem.countCommands("ATH0"), 1);
    EXPECT_FALSE(modem.online());
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_IDLE));
    EXPECT_EQ(service->deallocateCall(call), LINEERR_OK);

    // The line dials again.
    Dial(line, "777");
    EXPECT_TRUE(waitUntil([&] { return modem.countCommands("ATDT777") == 1; }, 1000));
}

TEST_F(HayesTelephonyTest, DialOutcomesBecomeCallStatesWithReasons) {
    PtyModem::Options options;
    options.outcomes = {{"1", "BUSY"},       {"2", "NO ANSWER"}, {"3", "NO DIALTONE"},
                        {"4", "NO CARRIER"}, {"5", "ERROR"},     {"6", ""}};
    PtyModem modem(Path("modem"), options);
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    struct Expect {
        const char* number;
        std::uint32_t state;
        std::uint32_t detail;
    };
    for (const Expect& e : {Expect{"1", LINECALLSTATE_BUSY, LINEBUSYMODE_UNAVAIL},
                            Expect{"2", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER},
                            Expect{"3", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NODIALTONE},
                            Expect{"4", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL},
                            Expect{"5", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL},
                            Expect{"6", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER}}) {
        SCOPED_TRACE(e.number);
        QElapsedTimer elapsed;
        elapsed.start();
        const Call call = Dial(line, e.number, 1);
        const std::optional<LineMessage> end = await(LINE_CALLSTATE, e.state);
        ASSERT_TRUE(end);
        EXPECT_EQ(end->device, call);
        EXPECT_EQ(end->param2, e.detail);
        CallStatus status;
        ASSERT_EQ(service->callStatus(call, status), LINEERR_OK);
        EXPECT_EQ(status.callState, e.state);
        if (std::string(e.number) == "6") {
            EXPECT_GE(elapsed.elapsed(), 950); // the no-answer time-out of the call parameters
        }
        ASSERT_EQ(awaitReply(service->drop(call)), LINEERR_OK);
        service->deallocateCall(call);
        messages.clear();
    }
    Call call = 0;
    EXPECT_EQ(service->makeCall(line, call, "555\rATZ", 0, {}), LINEERR_INVALADDRESS);
    EXPECT_EQ(service->makeCall(line, call, "", 0, {}), LINEERR_INVALADDRESS);
}

TEST_F(HayesTelephonyTest, DroppingADialInProgressAbortsIt) {
    PtyModem::Options options;
    options.defaultOutcome = "";
    PtyModem modem(Path("modem"), options);
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    const Call call = Dial(line, "42");
    ASSERT_EQ(awaitReply(service->drop(call)), LINEERR_OK);
    EXPECT_EQ(modem.countCommands("ATH0"), 1);
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_IDLE));
    // Nothing about the released call arrives any more.
    service->deallocateCall(call);
    runEventsFor(100);
    for (const LineMessage& m : messages)
        EXPECT_NE(m.device, call);
}

// ---- Incoming calls ----

TEST_F(HayesTelephonyTest, RingOffersOneCallThatIsAnsweredWithATA) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    modem.ring();
    const std::optional<LineMessage> offer = await(LINE_CALLSTATE, LINECALLSTATE_OFFERING);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->param3, LINECALLPRIVILEGE_OWNER);
    modem.ring();
    const std::optional<LineMessage> ringing = await(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING);
    ASSERT_TRUE(ringing);
    EXPECT_EQ(ringing->device, line);
    for (const LineMessage& m : messages)
        EXPECT_NE(m.param1, LINECALLSTATE_OFFERING);

    ASSERT_EQ(awaitReply(service->answer(offer->device)), LINEERR_OK);
    EXPECT_TRUE(waitUntil([&] { return modem.countCommands("ATA") == 1; }, 1000));
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(service->answer(offer->device), LINEERR_INVALCALLSTATE);
}

TEST_F(HayesTelephonyTest, RingInTheSameReadAsTheSetupReplyIsNotLost) {
    PtyModem::Options options;
    options.afterSetupOk = "RING";
    PtyModem modem(Path("modem"), options);
    Start({modem.Link()});
    openModem(0, modem);
    EXPECT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_OFFERING, 1000));
}

TEST_F(HayesTelephonyTest, RingingThatStopsEndsTheOffer) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    openModem(0, modem);
    modem.ring();
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_OFFERING));
    const std::optional<LineMessage> gone = await(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, 2000);
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->param2, LINEDISCONNECTMODE_NORMAL);
}

// ---- Hang-ups and bad peers ----

TEST_F(HayesTelephonyTest, FarEndHangUpDisconnectsAndTheModemIsFoundAgainAtItsPath) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    Line line = openModem(0, modem);
    const Call call = Dial(line, "555");
    ASSERT_TRUE(await(LINE_CALLSTATE, LINECALLSTATE_CONNECTED));
    modem.hangUpFarEnd();
    const std::optional<LineMessage> end = await(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->param2, LINEDISCONNECTMODE_NORMAL);
    AddressStatus status;
    ASSERT_EQ(service->addressStatus(line, 0, status), LINEERR_OK);
    EXPECT_EQ(status.addressFeatures & LINEADDRFEATURE_MAKECALL, 0u);

    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_EQ(awaitReply(service->drop(call)), LINEERR_OK);
    EXPECT_LT(elapsed.elapsed(), 500); // nothing to wait for on a dead port
    service->deallocateCall(call);
    EXPECT_EQ(service->close(line), LINEERR_OK);
    runEventsFor(50);
    EXPECT_FALSE(await(LINE_CLOSE, 0, 10)); // closed by us: not reported

    line = openModem(0, modem);
    EXPECT_EQ(modem.countCommands("ATZ"), 2);
}

TEST_F(HayesTelephonyTest, PortThatVanishesOrStopsAnsweringClosesTheLine) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    modem.unplug();
    const std::optional<LineMessage> closed = await(LINE_CLOSE);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->device, line);
    Call call = 0;
    EXPECT_EQ(service->makeCall(line, call, "555", 0, {}), LINEERR_INVALLINEHANDLE);

    // Gone from its path: the line does not open.
    Line again = 0;
    EXPECT_EQ(service->Open(app, 0, again, 0x00010004, 6, LINEMEDIAMODE_DATAMODEM), LINEERR_NODEVICE);
}

TEST_F(HayesTelephonyTest, ShutdownSilencesEverythingStillQueued) {
    PtyModem modem(Path("modem"));
    Start({modem.Link()});
    const Line line = openModem(0, modem);
    Call call = 0;
    ASSERT_GT(service->makeCall(line, call, "555", 0, {}), 0);
    ASSERT_EQ(service->Shutdown(app), LINEERR_OK);
    messages.clear();
    runEventsFor(200);
    EXPECT_TRUE(messages.empty());
    CallStatus status;
    EXPECT_EQ(service->callStatus(call, status), LINEERR_INVALCALLHANDLE);
}

// ---- Hot plugging ----

TEST_F(HayesTelephonyTest, PortPluggedOrRemovedInAScannedFolderIsReported) {
    PtyModem modem(Path("modem"));
    TempDir devDir("dialscope-dev");
    Start({}, {devDir.path() + "/ttyUSB*"});
    EXPECT_EQ(numDevs, 0u);
    ASSERT_EQ(::symlink(modem.Link().c_str(), devDir.file("ttyUSB0").c_str()), 0);
    const std::optional<LineMessage> created = await(LINE_CREATE, 0, 3000);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->param1, 0u);
    ::unlink(devDir.file("ttyUSB0").c_str());
    ASSERT_TRUE(await(LINE_REMOVE, 0, 3000));
}

TEST(HayesDialString, KeepsDialCharactersAndRefusesAnythingElse) {
    EXPECT_EQ(HayesTelephony::dialString("(02) 555-01.23"), "025550123");
    EXPECT_EQ(HayesTelephony::dialString("9,W*70#"), "9,W*70#");
    EXPECT_FALSE(HayesTelephony::dialString("555;ATH"));
    EXPECT_FALSE(HayesTelephony::dialString("555\r"));
    EXPECT_FALSE(HayesTelephony::dialString(" - "));
    EXPECT_FALSE(HayesTelephony::dialString(std::string(61, '1')));
}

} // namespace

// Discovery probes on a worker: the caller is not held by a silent port, the
// answer arrives through the event loop, and the next Initialize uses it
// without probing again. A service destroyed mid-search calls nobody.
TEST_F(HayesTelephonyTest, DiscoveryProbesInTheBackgroundForTheNextInitialize) {
    PtyModem::Options silentOptions;
    silentOptions.behaviour = PtyModem::Behaviour::Silent;
    PtyModem silent(Path("silent"), silentOptions);
    PtyModem modem(Path("modem"));
    PortSources sources;
    sources.explicitPaths = {silent.Link(), modem.Link()};
    {
        HayesTelephony early(sources, shortTimings());
        bool called = false;
        early.discover([&] { called = true; });
        EXPECT_FALSE(called);
    } // joined here; its answer is dropped with it
    runEventsFor(20);

    service = std::make_unique<HayesTelephony>(sources, shortTimings());
    int done = 0;
    QElapsedTimer held;
    held.start();
    service->discover([&] { ++done; });
    service->discover([&] { ++done; }); // joins the search under way
    // The silent port alone needs a whole probe answer time.
    EXPECT_LT(held.elapsed(), shortTimings().probeAnswerMs / 2);
    EXPECT_EQ(done, 0);
    ASSERT_TRUE(waitUntil([&] { return done == 2; }, 3000));
    const int probes = modem.countCommands("AT");

    std::uint32_t version = 0x00020000;
    ASSERT_EQ(
        service->Initialize(
            "Lookout-Remote", [this](const LineMessage& m) { messages.push_back(m); }, app, numDevs, version),
        LINEERR_OK);
    ASSERT_EQ(numDevs, 2u);
    EXPECT_EQ(service->devicePath(1), modem.Link());
    LineDevCaps caps;
    ASSERT_EQ(service->devCaps(app, 1, 0x00010004, caps), LINEERR_OK);
    EXPECT_TRUE(caps.mediaModes & LINEMEDIAMODE_DATAMODEM);
    ASSERT_EQ(service->devCaps(app, 0, 0x00010004, caps), LINEERR_OK);
    EXPECT_FALSE(caps.mediaModes & LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(modem.countCommands("AT"), probes);
}
