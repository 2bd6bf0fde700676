#include "tools/sitesim/SimOptions.h"

#include <charconv>
#include <functional>
#include <map>
#include <sstream>

namespace sitesim {

namespace {

template <typename T> bool parseNumber(const std::string& text, T& value, T min, T max) {
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= min && value <= max;
}

bool parseList(const std::string& text, std::vector<int32_t>& out) {
    out.clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        int32_t value = 0;
        if (!parseNumber<int32_t>(item, value, INT32_MIN, INT32_MAX))
            return false;
        out.push_back(value);
    }
    return true;
}

bool parseScheduled(const std::string& text, ScheduledCommand& out) {
    const auto colon = text.find(':');
    long ms = 0;
    if (colon == std::string::npos || !parseNumber<long>(text.substr(0, colon), ms, 0, 86400000L))
        return false;
    out.at = Millis(ms);
    out.command = text.substr(colon + 1);
    return !out.command.empty();
}

} // namespace

std::string usageText() {
    return R"(Usage: dialscope-sitesim --link PATH [options]
       dialscope-sitesim --send SOCKET COMMAND...

Simulates a Hayes-compatible data modem and the video recorder ("site") behind
it on a pseudo-terminal. The terminal's slave is published as the symlink PATH;
a far-end hang-up publishes a fresh terminal under the same PATH.

Demo: run with --demo, dial any number and log in as user "demo", password
"demo". Dial 999 to have the site hang up and call back a few seconds later;
that call logs in with the answering credentials and sends all channels.

Publishing:
  --link PATH             symlink to the terminal (required)
  --control PATH          UNIX socket taking control commands, one per line
  --log PATH              JSON log, one object per line ("-": standard output)
  --tcp PORT              also serve the modem over raw TCP on 127.0.0.1:PORT
                          (0: any free port, see "status"); one client at a
                          time (a new one takes over); a client going away
                          counts as dropping DTR
  --rfc2217 PORT          the same as Telnet with COM-PORT-CONTROL (RFC 2217):
                          line settings are acknowledged, SET-CONTROL DTR off
                          drops DTR, carrier is sent as NOTIFY-MODEMSTATE
  --data-only             no modem: the site protocol starts at once
  --incoming              with --data-only: the site placed the call
  --bps N                 limit the site's data to N bit/s (N/8 bytes/s)
  --demo                  demo settings: --bps 33600 unless given
Bad peer (deterministic from SEED, default 1):
  --chaos[=SEED]          once a call is connected, mix hostile bytes into the
                          site's data: garbage between packets, flipped header
                          and body bytes, oversized packets, lying lengths,
                          truncated frames, frames whose image size does not
                          match their data, unknown packet types, bursts;
                          other packets and enough good frames still pass
                          (now and then more than the viewer's receive
                          buffer is sent at once: slow on a --bps link)
  --chaos-rate R          share of video frames harmed, 0 to 1 (default 0.25)
  --flood KIND            (implies --chaos) every harmed frame comes with 16
                          well-formed packets of one kind: new-stream-keys
                          (the frame again under never-used stream keys),
                          repeated-prompts, repeated-rejections or
                          repeated-site-records
Modem (times in milliseconds):
  --product TEXT          ATI3 and AT+GMM answer (default "SiteSim V.34 Data
                          Modem"); ATI gives the product code 33600
  --connect-rate N        rate in CONNECT results (default: the --bps rate,
                          else 33600)
  --dial-result RESULT    outcome of a dial (default CONNECT): CONNECT [rate],
                          BUSY, NO ANSWER, NO CARRIER, NO DIALTONE, CALLBACK,
                          each optionally followed by @MS (its own delay)
  --number NUM=RESULT     outcome for one dialled number (repeatable)
  --callback-number NUM   dialling NUM gives CALLBACK (default 999; "none")
  --dial-delay MS         dial to outcome (default 3000)
  --answer-delay MS       ATA to CONNECT (default 1500)
  --ring-interval MS      between RINGs (default 3000)
  --ring-count N          RINGs before the caller gives up (default 10)
  --guard-ms MS           escape guard time, S12 x 20 ms (default 1000)
  --callback-delay MS     from CALLBACK to the incoming call (default 5000)
Site:
  --user NAME --password PW   login (default demo / demo)
  --channel CHANNEL       NUM:NAME[,codec=mjpg|cvid|msvc|rgb][,key=K][,fps=F]
                          [,size=WxH] (repeatable; replaces the default four);
                          key defaults to 1000+NUM, fps to 2
  --permissions N         ChannelList flags: 1 may open, 2 may close (default 3)
  --no-prompt             no ChannelPrompt after a login
  --auto-open LIST        channels the site opens after a login (e.g. 1,2)
  --call-channels LIST    channels sent on a call the site placed (default all)
  --gop N                 Cinepak and Microsoft Video 1 send a key frame every
                          N frames and delta frames between (default 1: every
                          frame a key frame; --demo: 10)
  --size WxH              picture size for every channel (160x120, 176x144,
                          320x240, 352x288, 640x480); default from the login:
                          image size 1 -> 320x240, 0 -> 160x120
  --site-name/--site-tel/--site-address/--site-memo TEXT   the site record
Scripted events:
  --at MS:COMMAND         run a control command MS after start-up (repeatable)
  --on-login MS:COMMAND   run it MS after each accepted login (repeatable)

Control commands (reply "OK", "OK {json}" or "ERROR reason"):
  ring                     incoming call (data-only: a new session the site placed)
  ring persist             incoming call that keeps trying until answered: a dial
                           under way fails (RING, NO CARRIER), a busy line is
                           tried again every ring interval once it is free
  hangup                   far-end hang-up: new terminal under PATH, old one
                           closed; a raw TCP client is disconnected after
                           NO CARRIER, a Telnet client sees carrier drop
  event channel-closed N   ChannelClosed for channel N's stream; the stream stops
  event hangup-request     HangUpRequest
  event login-request      LoginRequest
  event login-rejected     LoginRejected
  event channel-list       ChannelList
  event prompt             ChannelPrompt
  event site-info          SiteInfo
  event unknown [TYPE]     a packet of an unknown type (default 7)
  event text-frame N       the next frame of streaming channel N, its last bytes
                           overwritten by the modem's "\r\nNO CARRIER\r\n"
  open N / close N         start / stop streaming channel N
  dial-result RESULT       outcome of later dials
  chaos on [SEED]          start the bad peer afresh from SEED (default: the
                           last seed, else 1); the damage counts restart
  chaos off                stop it; the damage counts stay in status
  chaos flood KIND|off     harmed frames carry this flood (see --flood) /
                           the random mix again
  status                   state as JSON (with "chaos": on, seed, rate and
                           the damage counts per kind)
  carrier-lost             the modem loses carrier: NO CARRIER, back to
                           command state; the terminal and any TCP client stay
  quit                     exit
DTR cannot be seen on a pseudo-terminal; closing the port counts as dropping it
(&D2, the default, hangs up). To hang up with the port open: guard time, "+++",
guard time, then ATH0.
The log (--log) has one JSON object per line: "t" (seconds since start),
"event" (command, result, modem, call, ring, escape, dtr, port, pty, session,
packet, sent, chaos, stream, fixed, control, warning, error) and the event's
fields; a "chaos" line lists the "damage" kinds sent in place of one packet.
)";
}

std::optional<SimOptions> parseOptions(const std::vector<std::string>& args, std::string& error) {
    SimOptions options;
    std::vector<ChannelConfig> channels;
    std::string callbackNumber = "999";
    bool demo = false;
    bool bpsSet = false;
    bool rateSet = false;
    bool gopSet = false;

    const auto millis = [&](const std::string& value, Millis& out) {
        long ms = 0;
        if (!parseNumber<long>(value, ms, 0, 86400000L))
            return false;
        out = Millis(ms);
        return true;
    };
    const auto size = [&](const std::string& value) {
        const auto x = value.find('x');
        int w = 0, h = 0;
        if (x == std::string::npos || !parseNumber(value.substr(0, x), w, 1, 4096) ||
            !parseNumber(value.substr(x + 1), h, 1, 4096) || !isSupportedSize(w, h))
            return false;
        options.site.width = w;
        options.site.height = h;
        return true;
    };
    using Handler = std::function<bool(const std::string&)>;
    const std::map<std::string, Handler> withValue = {
        {"--link",
         [&](const std::string& v) {
             options.link = v;
             return !v.empty();
         }},
        {"--control",
         [&](const std::string& v) {
             options.control = v;
             return !v.empty();
         }},
        {"--log",
         [&](const std::string& v) {
             options.logPath = v;
             return !v.empty();
         }},
        {"--bps",
         [&](const std::string& v) {
             bpsSet = true;
             return parseNumber(v, options.bps, 0L, 100000000L);
         }},
        {"--chaos-rate",
         [&](const std::string& v) {
             return parseNumber(v, options.chaosRate, 0.0, 1.0);
         }},
        {"--product",
         [&](const std::string& v) {
             options.modem.productName = v;
             return true;
         }},
        {"--connect-rate",
         [&](const std::string& v) {
             rateSet = true;
             return parseNumber(v, options.modem.connectRate, 1, 10000000);
         }},
        {"--dial-result",
         [&](const std::string& v) {
             const auto outcome = DialOutcome::parse(v);
             if (outcome)
                 options.modem.defaultOutcome = *outcome;
             return outcome.has_value();
         }},
        {"--number",
         [&](const std::string& v) {
             const auto eq = v.find('=');
             if (eq == std::string::npos)
                 return false;
             const auto outcome = DialOutcome::parse(v.substr(eq + 1));
             const std::string number = ModemEmulator::normaliseNumber(v.substr(0, eq));
             if (outcome)
                 options.modem.numbers[number] = *outcome;
             return outcome.has_value();
         }},
        {"--callback-number",
         [&](const std::string& v) {
             callbackNumber = v;
             return true;
         }},
        {"--dial-delay",
         [&](const std::string& v) {
             return millis(v, options.modem.dialDelay);
         }},
        {"--answer-delay",
         [&](const std::string& v) {
             return millis(v, options.modem.answerDelay);
         }},
        {"--ring-interval",
         [&](const std::string& v) {
             return millis(v, options.modem.ringInterval) && options.modem.ringInterval.count() > 0;
         }},
        {"--ring-count",
         [&](const std::string& v) {
             return parseNumber(v, options.modem.ringCount, 1, 1000);
         }},
        {"--guard-ms",
         [&](const std::string& v) {
             return millis(v, options.modem.guardTime) && options.modem.guardTime.count() <= 5100;
         }},
        {"--callback-delay",
         [&](const std::string& v) {
             return millis(v, options.modem.callbackDelay);
         }},
        {"--user",
         [&](const std::string& v) {
             options.site.user = v;
             return v.size() <= 20;
         }},
        {"--password",
         [&](const std::string& v) {
             options.site.password = v;
             return v.size() <= 20;
         }},
        {"--channel",
         [&](const std::string& v) {
             auto channel = ChannelConfig::parse(v, error);
             if (channel)
                 channels.push_back(*channel);
             return channel.has_value();
         }},
        {"--permissions",
         [&](const std::string& v) {
             return parseNumber(v, options.site.permissions, INT32_MIN, INT32_MAX);
         }},
        {"--auto-open",
         [&](const std::string& v) {
             return parseList(v, options.site.autoOpen);
         }},
        {"--call-channels",
         [&](const std::string& v) {
             return parseList(v, options.site.callChannels);
         }},
        {"--size", size},
        {"--flood",
         [&](const std::string& v) {
             options.flood = parseFloodKind(v);
             if (options.flood && !options.chaosSeed)
                 options.chaosSeed = DamageGenerator::kDefaultSeed;
             return options.flood.has_value();
         }},
        {"--gop",
         [&](const std::string& v) {
             gopSet = true;
             return parseNumber(v, options.site.gop, 1, 1000);
         }},
        {"--site-name",
         [&](const std::string& v) {
             options.site.record.name = v;
             return true;
         }},
        {"--site-tel",
         [&](const std::string& v) {
             options.site.record.tel = v;
             return true;
         }},
        {"--site-address",
         [&](const std::string& v) {
             options.site.record.address = v;
             return true;
         }},
        {"--site-memo",
         [&](const std::string& v) {
             options.site.record.memo = v;
             return true;
         }},
        {"--tcp",
         [&](const std::string& v) {
             uint16_t port = 0;
             options.telnet = false;
             options.tcpPort = port;
             return parseNumber<uint16_t>(v, *options.tcpPort, 0, 65535);
         }},
        {"--rfc2217",
         [&](const std::string& v) {
             uint16_t port = 0;
             options.telnet = true;
             options.tcpPort = port;
             return parseNumber<uint16_t>(v, *options.tcpPort, 0, 65535);
         }},
        {"--at",
         [&](const std::string& v) {
             ScheduledCommand c;
             const bool ok = parseScheduled(v, c);
             options.at.push_back(c);
             return ok;
         }},
        {"--on-login",
         [&](const std::string& v) {
             ScheduledCommand c;
             const bool ok = parseScheduled(v, c);
             options.onLogin.push_back(c);
             return ok;
         }},
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--data-only") {
            options.dataOnly = true;
        } else if (arg == "--incoming") {
            options.incoming = true;
        } else if (arg == "--no-prompt") {
            options.site.prompt = false;
        } else if (arg == "--demo") {
            demo = true;
        } else if (arg == "--chaos" || arg.rfind("--chaos=", 0) == 0) {
            uint64_t seed = DamageGenerator::kDefaultSeed;
            if (arg.size() > 8 && !parseNumber<uint64_t>(arg.substr(8), seed, 0, UINT64_MAX)) {
                error = "bad seed in '" + arg + "'";
                return std::nullopt;
            }
            options.chaosSeed = seed;
        } else if (arg == "--send") {
            if (i + 1 >= args.size()) {
                error = "--send needs a socket path";
                return std::nullopt;
            }
            options.sendSocket = args[++i];
            options.sendCommands.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
            break;
        } else if (const auto handler = withValue.find(arg); handler != withValue.end()) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            error.clear();
            if (!handler->second(value)) {
                if (error.empty())
                    error = "bad value for " + arg + ": '" + value + "'";
                return std::nullopt;
            }
        } else {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    if (options.help || !options.sendSocket.empty())
        return options;
    if (options.link.empty()) {
        error = "--link PATH is required";
        return std::nullopt;
    }
    options.site.channels = channels.empty() ? SiteConfig::defaultChannels() : channels;
    if (callbackNumber != "none" &&
        !options.modem.numbers.count(ModemEmulator::normaliseNumber(callbackNumber)))
        options.modem.numbers[ModemEmulator::normaliseNumber(callbackNumber)] =
            DialOutcome{DialOutcome::Kind::Callback, 0, std::nullopt};
    if (demo && !bpsSet)
        options.bps = 33600;
    // Real recorders send delta-coded video; so does the demo site.
    if (demo && !gopSet)
        options.site.gop = SiteConfig::kDemoGop;
    // A limited link reports its own rate unless told otherwise.
    if (options.bps > 0 && !rateSet)
        options.modem.connectRate = int(options.bps);
    return options;
}

} // namespace sitesim
