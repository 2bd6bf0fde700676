// Fuzz target: arbitrary bytes from the program side into the simulator's
// packet readers, the modem (command and data modes) and the site behind it.
#include "tools/sitesim/ModemEmulator.h"
#include "tools/sitesim/SiteFraming.h"
#include "tools/sitesim/SiteSimulator.h"

#include <cstddef>
#include <cstdint>

using namespace sitesim;
using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 61;
    const std::span<const uint8_t> bytes(data + 1, size - 1);

    for (const Layout layout : {Layout::Viewer, Layout::Site}) {
        PacketReader reader(layout, 4096);
        for (size_t i = 0; i < bytes.size(); i += chunk) {
            reader.feed(bytes.subspan(i, std::min(chunk, bytes.size() - i)));
            while (reader.next()) {
            }
        }
    }

    SiteConfig siteConfig;
    siteConfig.user.clear(); // an all-zero login record logs in, so later packets get handled
    siteConfig.password.clear();
    siteConfig.channels = {{1, "A", Codec::Rgb, 0, 50.0, 160, 120},
                           {2, "B", Codec::Mjpeg, 0, 50.0, 160, 120}};
    SiteSimulator site(siteConfig, {});
    TimePoint now{};

    ModemConfig modemConfig;
    modemConfig.dialDelay = 5ms;
    modemConfig.answerDelay = 5ms;
    modemConfig.ringInterval = 5ms;
    modemConfig.guardTime = 5ms;
    ModemEmulator::Hooks hooks;
    hooks.toSite = [&](std::span<const uint8_t> b) {
        site.fromViewer(b, now);
    };
    hooks.callStarted = [&](bool placedBySite) {
        site.beginSession(placedBySite, now);
    };
    hooks.callEnded = [&] {
        site.endSession();
    };
    ModemEmulator modem(modemConfig, hooks);

    for (size_t i = 0; i < bytes.size(); i += chunk) {
        const auto piece = bytes.subspan(i, std::min(chunk, bytes.size() - i));
        now += Millis(piece[0] % 8);
        if (piece[0] == 0xff)
            modem.incomingCall(now);
        modem.fromDte(piece, now);
        modem.tick(now);
        site.tick(now, 0);
    }
    // The site on its own, as in data-only mode.
    site.beginSession(data[0] & 1, now);
    site.fromViewer(bytes, now);
    site.tick(now + 1s, 0);
    return 0;
}
