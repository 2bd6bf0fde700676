// A 150 KB video frame through a modem behind an RFC 2217 server on the
// loopback address: the server escapes it (JPEG-like data, many 0xFF bytes),
// the program's pump unescapes it, the program reads it from its end of the
// byte stream. The same over raw TCP, where the pump passes the bytes through
// and watches them for the modem's NO CARRIER. Also the codec alone, both ways.
#include "platform/telephony/NetworkPort.h"
#include "platform/telephony/SerialPort.h"
#include "platform/telephony/TelnetCodec.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t kFrame = 150 * 1024;

std::string Frame() {
    std::mt19937 random(150);
    std::string frame(kFrame, '\0');
    for (char& c : frame)
        c = static_cast<char>(random() % 16 == 0 ? 0xFF : random() % 256);
    return frame;
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        at += static_cast<std::size_t>(n);
    }
}

void BM_FrameOverLoopback(benchmark::State& state, bool telnet) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        state.SkipWithError("no loopback socket");
        return;
    }
    const std::string frame = Frame();
    const int frames = 1 << 20; // the server sends until the program goes
    // The server: agrees to the option, then sends escaped frames.
    std::thread server([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        if (telnet)
            sendAll(fd, telnet::Negotiation(telnet::kDo, telnet::kOptComPort));
        for (int i = 0; i < frames; ++i) {
            const std::string wire = telnet ? telnet::escaped(frame) : frame;
            std::size_t at = 0;
            while (at < wire.size()) {
                const ssize_t n = ::send(fd, wire.data() + at, wire.size() - at, MSG_NOSIGNAL);
                if (n <= 0) {
                    ::close(fd);
                    return;
                }
                at += static_cast<std::size_t>(n);
            }
        }
        ::close(fd);
    });
    std::optional<SerialPort> port = SerialPort::Open(
        (telnet ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(ntohs(addr.sin_port)), 2000);
    if (!port) {
        state.SkipWithError("cannot connect");
        ::shutdown(listener, SHUT_RDWR);
        server.join();
        ::close(listener);
        return;
    }
    port->watchNoCarrier(true, 1000); // as during a call
    std::string buffer(65536, '\0');
    for (auto _ : state) {
        std::size_t got = 0;
        while (got < kFrame) {
            pollfd p{port->fd(), POLLIN, 0};
            poll(&p, 1, 2000);
            const ssize_t n = ::read(port->fd(), buffer.data(), std::min(buffer.size(), kFrame - got));
            if (n <= 0 && errno != EAGAIN) {
                state.SkipWithError("stream ended");
                break;
            }
            if (n > 0)
                got += static_cast<std::size_t>(n);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
    port.reset(); // the server's sends fail and it ends
    server.join();
    ::close(listener);
}
BENCHMARK_CAPTURE(BM_FrameOverLoopback, Rfc2217, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FrameOverLoopback, RawTcp, false)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_TelnetEscape(benchmark::State& state) {
    const std::string frame = Frame();
    std::string out;
    for (auto _ : state) {
        out.clear();
        telnet::appendEscaped(out, frame);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
}
BENCHMARK(BM_TelnetEscape)->Unit(benchmark::kMicrosecond);

void BM_TelnetDecode(benchmark::State& state) {
    const std::string wire = telnet::escaped(Frame());
    std::string data;
    std::vector<telnet::Event> events;
    telnet::Decoder decoder;
    for (auto _ : state) {
        data.clear();
        decoder.feed(wire, data, events);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
}
BENCHMARK(BM_TelnetDecode)->Unit(benchmark::kMicrosecond);

} // namespace
