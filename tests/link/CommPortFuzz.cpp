// Fuzzes the connection's packet handling with its state: channel lists,
// frames on any stream key, prompts, rejections, closed channels, site records
// and hang-up requests arrive in any order and mixed with raw bytes, timer
// ticks, posted commands and the operator's Fix, Close and Open. Each input
// runs one call on its own pseudo-terminal: the port is started, the packets
// are handed to its receive queue as the serial reader would, and the call is
// stopped again, so no thread outlives the input and nothing carries over.
//
// Input: a flag byte (answered call, video arrange, view size, decompressor
// behaviour, raw mode), then either steps, each an operation and its fields,
// or (raw mode) a chunk-size byte and bytes as the site sends them, drained
// chunk by chunk with a timer tick and the posted commands after each.
#include "app/core/ChannelTable.h"
#include "link/CommPort.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/PtyPair.h"

#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;

// Enough steps for windows to come and go; bounded so one input stays quick
// and the outbound bytes fit the terminal's buffer.
constexpr int kMaxSteps = 96;

std::vector<uint8_t> payload(FuzzedDataProvider& in, size_t most) {
    return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, most));
}

std::vector<uint8_t> channelListPayload(FuzzedDataProvider& in) {
    std::vector<uint8_t> list;
    for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n) {
        std::vector<uint8_t> record(ChannelEntry::kRecordSize, 0);
        writeInt32(record.data(), in.ConsumeIntegralInRange<int32_t>(-2, 12));
        const std::vector<uint8_t> name = payload(in, ChannelEntry::kNameField);
        std::copy(name.begin(), name.end(), record.begin() + 4);
        list.insert(list.end(), record.begin(), record.end());
    }
    return list;
}

// A frame whose header the input shapes: mostly small sane pictures, now and
// then any value in any field.
std::vector<uint8_t> framePayloadFrom(FuzzedDataProvider& in) {
    BitmapInfoHeader h;
    const bool wild = in.ConsumeBool();
    h.biWidth = wild ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(1, 64) * 8;
    h.biHeight = wild ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-64, 64) * 4;
    h.biBitCount = wild ? in.ConsumeIntegral<uint16_t>() : uint16_t(in.PickValueInArray({8, 16, 24, 32}));
    h.biCompression = in.ConsumeBool() ? makeFourCC('I', 'V', '5', '0') : in.ConsumeIntegral<uint32_t>();
    h.biClrUsed = wild ? in.ConsumeIntegral<uint32_t>() : 0;
    const std::vector<uint8_t> image = payload(in, 512);
    h.biSizeImage = wild ? in.ConsumeIntegral<uint32_t>() : uint32_t(image.size());
    std::vector<uint8_t> bytes(BitmapInfoHeader::kSize);
    h.write(bytes.data());
    bytes.insert(bytes.end(), image.begin(), image.end());
    return bytes;
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void checkInvariants(const CommPort& port, const FakeHost& host) {
    int live = 0;
    for (const CommPort::ChannelSlot& slot : port.channelSlots()) {
        live += slot.window != nullptr;
        if ((slot.window != nullptr) != (slot.windowId != 0))
            broken("a slot's window and its id disagree");
    }
    if (live != port.WindowCount())
        broken("the window count differs from the live windows");
    if (size_t(live) > host.windows.size())
        broken("more live windows than were ever created");
    if (port.frameCount() < 0)
        broken("negative frame count");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t flags = data[0];
    FuzzedDataProvider in(data + 1, size - 1);

    ScriptedDialogService dialogs;
    FakeHost host;
    host.videoArrange = flags & 2;
    host.size = {flags & 4 ? 320 : 1000, flags & 4 ? 200 : 600};
    ChannelTable channels;
    FakeDecompressorFactory codecs;
    codecs.handlers = {{"iv50", !(flags & 8)}};
    codecs.locates = flags & 16;
    codecs.decodes = flags & 32;
    CommPortOptions options;
    options.timerPeriod = 1h; // ticks come from the input
    options.stopBound = 2000ms;
    options.clock = [] {
        return QTime(12, 0, 0);
    };
    CommPort port(dialogs, host, channels, codecs, options);
    port.attachMainWindow(&host, &host, &host);

    PtyPair pty;
    if (!pty.valid() || !port.Start(pty.releaseTerminal(), flags & 1))
        return 0;

    auto feed = [&port](const std::vector<uint8_t>& bytes) {
        port.PushFrontReceived(bytes);
        port.DrainReceived();
    };
    auto someWindow = [&host, &in]() -> uint64_t {
        if (host.windows.empty())
            return in.ConsumeIntegral<uint8_t>();
        return host.windows[in.ConsumeIntegralInRange<size_t>(0, host.windows.size() - 1)]->info.windowId;
    };
    if (flags & 128) {
        const size_t chunk = 1 + size_t(data[1]) * 4;
        const std::span<const uint8_t> stream(data + 2, size - 2);
        for (size_t at = 0; at < stream.size() && port.IsOpen(); at += chunk) {
            const auto piece = stream.subspan(at, std::min(chunk, stream.size() - at));
            feed({piece.begin(), piece.end()});
            port.OnConnectionTimer();
            QCoreApplication::sendPostedEvents();
            checkInvariants(port, host);
            pty.read(1 << 20, 0);
        }
    }
    for (int step = 0; step < kMaxSteps && !(flags & 128) && in.remaining_bytes() > 0; ++step) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>() % 14;
        switch (op) {
        case 0:
            feed(inbound(InboundType::ChannelList, in.ConsumeIntegralInRange<int32_t>(-1, 8),
                         in.ConsumeIntegral<uint8_t>(), channelListPayload(in)));
            break;
        case 1:
            feed(inbound(InboundType::VideoFrame, in.ConsumeIntegralInRange<int32_t>(-1, 12),
                         in.ConsumeIntegralInRange<int32_t>(0, 40), framePayloadFrom(in)));
            break;
        case 2:
            feed(inbound(InboundType::ChannelPrompt));
            break;
        case 3:
            feed(inbound(InboundType::LoginRejected));
            break;
        case 4:
            feed(inbound(InboundType::LoginRequest));
            break;
        case 6:
            feed(inbound(InboundType::HangUpRequest));
            break;
        case 5:
            feed(inbound(InboundType::ChannelClosed, 0, in.ConsumeIntegralInRange<int32_t>(0, 40)));
            break;
        case 7:
            feed(inbound(InboundType::SiteInfo, 0, 0, payload(in, 320)));
            break;
        case 8: // any bytes at all, cut anywhere: the receiver keeps what it cannot use yet
            feed(payload(in, 256));
            break;
        case 9:
            port.OnConnectionTimer();
            break;
        case 10: // posted commands reach the doubles now
            QCoreApplication::sendPostedEvents();
            break;
        case 11:
            port.FixWindow(someWindow());
            break;
        case 12:
            port.CloseWindow(someWindow(), in.ConsumeBool());
            break;
        case 13:
            port.requestOpenChannel(in.ConsumeIntegralInRange<int32_t>(-1, 12));
            break;
        }
        checkInvariants(port, host);
        if (!port.IsOpen())
            break;
        if (step % 16 == 15)
            pty.read(1 << 20, 0); // what the viewer sent, so the writer never waits on a full terminal
    }
    pty.read(1 << 20, 0);
    port.Stop();
    QCoreApplication::sendPostedEvents();
    checkInvariants(port, host);
    if (port.WindowCount() != 0 || !port.channelSlots().empty())
        broken("windows outlive the call");
    return 0;
}
