// The Telnet codec, the COM-PORT-CONTROL client and the network modem names,
// as tables, plus a property check of escaping on random video-like frames.
#include "platform/telephony/TelnetCodec.h"
#include "platform/telephony/ComPortClient.h"
#include "platform/telephony/NetworkPort.h"
#include "platform/telephony/NoCarrierWatch.h"
#include "platform/telephony/SerialPort.h"

#include <gtest/gtest.h>

#include <random>

using namespace telnet;

namespace {

using K = Event::Kind;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

struct Decoded {
    std::string data;
    std::vector<Event> events;
};

Decoded decode(const std::string& input, std::size_t step) {
    Decoder decoder;
    Decoded out;
    for (std::size_t at = 0; at < input.size(); at += step)
        decoder.feed(std::string_view(input).substr(at, step), out.data, out.events);
    return out;
}

TEST(TelnetDecoder, Table) {
    struct Case {
        const char* name;
        std::string input;
        std::string data;
        std::vector<Event> events;
    };
    const std::string longSub = bytes({kIac, kSb, kOptComPort}) +
                                std::string(Decoder::kMaxSubnegotiation + 5, 'x') + bytes({kIac, kSe}) + "ok";
    const Case cases[] = {
        {"plain data", "ATZ\r", "ATZ\r", {}},
        {"doubled IAC is one data byte", bytes({'a', kIac, kIac, 'b'}), bytes({'a', 0xFF, 'b'}), {}},
        {"negotiation", bytes({kIac, kDo, kOptComPort, 'x'}), "x", {{K::Negotiation, kDo, kOptComPort, {}}}},
        {"every verb",
         bytes({kIac, kWill, 0, kIac, kWont, 1, kIac, kDo, 3, kIac, kDont, 5}),
         "",
         {{K::Negotiation, kWill, 0, {}},
          {K::Negotiation, kWont, 1, {}},
          {K::Negotiation, kDo, 3, {}},
          {K::Negotiation, kDont, 5, {}}}},
        {"modem state notification",
         bytes({'1', kIac, kSb, kOptComPort, 107, 0xB0, kIac, kSe, '2'}),
         "12",
         {{K::Subnegotiation, kSb, kOptComPort, bytes({107, 0xB0})}}},
        {"escaped IAC inside a subnegotiation",
         bytes({kIac, kSb, kOptComPort, 101, 0, kIac, kIac, 0, 0, kIac, kSe}),
         "",
         {{K::Subnegotiation, kSb, kOptComPort, bytes({101, 0, 0xFF, 0, 0})}}},
        {"bare command (NOP)", bytes({kIac, 241, 'z'}), "z", {{K::Command, 241, 0, {}}}},
        {"subnegotiation without SE gives way to a command",
         bytes({kIac, kSb, kOptComPort, 7, kIac, kWill, 3, 'd'}),
         "d",
         {{K::Negotiation, kWill, 3, {}}}},
        {"oversized subnegotiation dropped whole", longSub, "ok", {}},
        {"empty subnegotiation ignored", bytes({kIac, kSb, kIac, kSe, 'e'}), "e", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Whole and byte by byte: the state carries across calls.
        for (std::size_t step : {c.input.size() + 1, std::size_t{1}, std::size_t{3}}) {
            const Decoded got = decode(c.input, step);
            EXPECT_EQ(got.data, c.data);
            EXPECT_EQ(got.events, c.events);
        }
    }
}

TEST(TelnetCodec, RandomFramesSurviveEscapingSplitAnywhere) {
    std::mt19937 random(2217);
    for (int round = 0; round < 200; ++round) {
        // Frames like JPEG data: 0xFF markers common, runs of 0xFF at the ends.
        std::string frame(random() % 3000, '\0');
        for (char& c : frame)
            c = static_cast<char>(random() % 4 == 0 ? 0xFF : random() % 256);
        if (round % 7 == 0)
            frame += std::string(5, static_cast<char>(0xFF));
        const std::string wire = escaped(frame);
        ASSERT_EQ(wire.size(),
                  frame.size() + static_cast<std::size_t>(std::count(frame.begin(), frame.end(), '\xFF')));
        const Decoded got = decode(wire, 1 + random() % 700);
        ASSERT_EQ(got.data, frame) << "round " << round;
        EXPECT_TRUE(got.events.empty());
    }
}

TEST(ComPortClient, NegotiatesOnceSetsTheLineUpAndFollowsCarrier) {
    ComPortClient client;
    const std::string start = client.Start();
    EXPECT_EQ(start, Negotiation(kWill, kOptBinary) + Negotiation(kDo, kOptBinary) +
                         Negotiation(kWill, kOptSga) + Negotiation(kDo, kOptSga) +
                         Negotiation(kWill, kOptComPort));

    struct Step {
        const char* name;
        Event event;
        std::string reply;
    };
    const std::string settings = comPort(kSetBaudRate, bytes({0, 1, 0xC2, 0})) +
                                 comPort(kSetDataSize, bytes({8})) + comPort(kSetParity, bytes({1})) +
                                 comPort(kSetStopSize, bytes({1})) + comPort(kSetControl, bytes({1})) +
                                 comPort(kSetControl, bytes({8}));
    const Step steps[] = {
        {"our offer accepted: no answer", {K::Negotiation, kDo, kOptBinary, {}}, ""},
        {"server agrees to the option: line settings and DTR on",
         {K::Negotiation, kDo, kOptComPort, {}},
         settings},
        {"agreement repeated: nothing again", {K::Negotiation, kDo, kOptComPort, {}}, ""},
        {"server echo refused", {K::Negotiation, kWill, kOptEcho, {}}, Negotiation(kDont, kOptEcho)},
        {"unknown option refused", {K::Negotiation, kDo, 24, {}}, Negotiation(kWont, 24)},
        {"server binary asked for already", {K::Negotiation, kWill, kOptBinary, {}}, ""},
        {"server withdraws binary", {K::Negotiation, kWont, kOptBinary, {}}, Negotiation(kDont, kOptBinary)},
        {"withdrawn again: no loop", {K::Negotiation, kWont, kOptBinary, {}}, ""},
        {"baud rate acknowledged", {K::Subnegotiation, kSb, kOptComPort, bytes({101, 0, 1, 0xC2, 0})}, ""},
        {"carrier on", {K::Subnegotiation, kSb, kOptComPort, bytes({107, 0xB8})}, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        std::string reply;
        client.onEvent(step.event, reply);
        EXPECT_EQ(reply, step.reply);
    }
    EXPECT_TRUE(client.accepted());
    EXPECT_EQ(client.settingsAcknowledged(), 1);
    EXPECT_TRUE(client.hasModemState());
    EXPECT_TRUE(client.carrierDetect());
    std::string reply;
    client.onEvent({K::Subnegotiation, kSb, kOptComPort, bytes({107, 0x38})}, reply);
    EXPECT_FALSE(client.carrierDetect());
    client.onEvent({K::Negotiation, kDont, kOptComPort, {}}, reply);
    EXPECT_TRUE(client.refused());
    EXPECT_EQ(ComPortClient::setDtr(false), bytes({kIac, kSb, kOptComPort, kSetControl, 9, kIac, kSe}));
}

TEST(NetworkModems, UrlsListsAndNames) {
    struct UrlCase {
        const char* url;
        bool valid;
        NetworkEndpoint::Kind kind;
        const char* host;
        int port;
    };
    using NK = NetworkEndpoint::Kind;
    const UrlCase urls[] = {
        {"tcp://modems.example:4001", true, NK::RawTcp, "modems.example", 4001},
        {"rfc2217://10.0.0.7:2217/", true, NK::Rfc2217, "10.0.0.7", 2217},
        {"tcp://[::1]:7000", true, NK::RawTcp, "::1", 7000},
        {"tcp://host:0", false, NK::RawTcp, "", 0},
        {"tcp://host:65536", false, NK::RawTcp, "", 0},
        {"tcp://host", false, NK::RawTcp, "", 0},
        {"tcp://:4001", false, NK::RawTcp, "", 0},
        {"tcp://host:40x", false, NK::RawTcp, "", 0},
        {"telnet://host:23", false, NK::RawTcp, "", 0},
        {"/dev/ttyS0", false, NK::RawTcp, "", 0},
    };
    for (const UrlCase& c : urls) {
        SCOPED_TRACE(c.url);
        const auto endpoint = parseNetworkEndpoint(c.url);
        ASSERT_EQ(endpoint.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(endpoint->kind, c.kind);
            EXPECT_EQ(endpoint->host, c.host);
            EXPECT_EQ(endpoint->port, c.port);
        }
    }

    using L = std::vector<std::string>;
    EXPECT_EQ(splitModemList("/dev/ttyUSB3:/dev/ttyS1"), (L{"/dev/ttyUSB3", "/dev/ttyS1"}));
    EXPECT_EQ(splitModemList("tcp://host:4001"), (L{"tcp://host:4001"}));
    EXPECT_EQ(splitModemList(" /dev/ttyS1, rfc2217://a:2217\ttcp://b:1,,"),
              (L{"/dev/ttyS1", "rfc2217://a:2217", "tcp://b:1"}));
    EXPECT_EQ(splitModemList(""), L{});

    // The status pane's name: ATI3 first, then maker and model; never the bare ATI code.
    EXPECT_EQ(modemName({"", "Acme V.92 External"}, {"ignored"}, {}), "Acme V.92 External");
    EXPECT_EQ(modemName({}, {"+GMI: Acme"}, {"+GMM:  V92X "}), "Acme V92X");
    EXPECT_EQ(modemName({}, {}, {"V92X"}), "V92X");
    EXPECT_EQ(modemName({}, {}, {}), "");
    EXPECT_EQ(modemName({std::string(100, 'n')}, {}, {}).size(), 63u);
}

// Raw TCP carrier loss: only a whole result line that the modem sent last and
// then kept quiet after counts; the same text inside a packet never does.
TEST(NoCarrierWatch, ResultLineCountsOnlyWhenNothingFollowsIt) {
    using namespace std::chrono_literals;
    using T = NoCarrierWatch::Clock::time_point;
    const T t0{};
    const std::string line(NoCarrierWatch::kResultLine);
    const std::string trailer("END\0EOF\0", 8);
    struct Case {
        const char* name;
        std::vector<std::string> chunks; // fed 10 ms apart
        bool lost;                       // asked 1 s after the last chunk
    };
    const Case cases[] = {
        {"alone", {line}, true},
        {"after a whole packet", {"TOP" + std::string(30, 'x') + trailer + line}, true},
        {"after a truncated packet", {"TOP\0payload-cut-sh", line}, true},
        {"split byte by byte", {"\r", "\n", "NO ", "CARR", "IER", "\r", "\n"}, true},
        {"in a payload, trailer in the same read", {"pic" + line + trailer}, false},
        {"in a payload, trailer in the next read", {"pic" + line, trailer}, false},
        {"without its line feeds", {"NO CARRIER"}, false},
        {"short form", {"\r\nNO CARRIER\r"}, false},
        {"lower case", {"\r\nno carrier\r\n"}, false},
        {"another result", {"\r\nOK\r\n"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NoCarrierWatch watch;
        watch.arm(500ms);
        T at = t0;
        for (const std::string& chunk : c.chunks) {
            watch.feed(chunk, at);
            EXPECT_FALSE(watch.check(at));
            at += 10ms;
        }
        EXPECT_EQ(watch.check(at + 1s), c.lost);
    }

    // The quiet time is measured from the line's arrival; before it nothing is final.
    NoCarrierWatch watch;
    watch.feed(line, t0); // not armed: ignored
    EXPECT_FALSE(watch.deadline());
    watch.arm(500ms);
    watch.feed(line, t0);
    ASSERT_TRUE(watch.deadline());
    EXPECT_EQ(*watch.deadline(), t0 + 500ms);
    EXPECT_FALSE(watch.check(t0 + 499ms));
    EXPECT_TRUE(watch.check(t0 + 500ms));
    EXPECT_TRUE(watch.lost());
    watch.feed("more", t0 + 600ms); // lost stays lost until the next call
    EXPECT_TRUE(watch.lost());
    watch.arm(500ms);
    EXPECT_FALSE(watch.lost());
    watch.feed(line, t0);
    watch.disarm(); // the call ended by other means
    EXPECT_FALSE(watch.check(t0 + 1s));
}

} // namespace
