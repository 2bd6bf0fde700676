// The whole receive path through a pseudo-terminal: a far-end thread writes
// video packets as fast as the line takes them; the serial reader queues
// them and the receiver routes each frame to a window. Reports sustained
// throughput and the CPU time the viewer spends per frame (far end excluded).
#include "app/core/ChannelTable.h"
#include "bench/link/BenchPackets.h"
#include "link/CommPort.h"
#include "platform/dialogs/ScriptedDialogService.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

double cpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

class NullWindow final : public ChannelWindowHandle {
public:
    void setStreamFormat(const BitmapInfoHeader&) override {}
    void sizeForPicture(int, int) override {}
    void moveOnTop(QPoint) override {}
    void setCell(const QRect&) override {}
    void applyBars(bool) override {}
    bool isRecording() const override { return false; }
    void RecordFrame(std::span<const uint8_t>) override {}
    void deliverFrame(std::span<const uint8_t> frame) override {
        // A window keeps a copy of every frame; so does this one.
        m_copy.assign(frame.begin(), frame.end());
    }
    void draw(std::span<const uint8_t>) override {}
    void markClosedBySite() override {}
    void onPostedCommand(CommandId) override {}
    void close() override {}

private:
    std::vector<uint8_t> m_copy;
};

class NullView final : public ViewArea {
public:
    QSize clientSize() const override { return {1000, 600}; }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo&) override {
        return std::make_unique<NullWindow>();
    }
};

class NullStore final : public ConnectionStore {
public:
    LoginValues loginValues() const override { return {}; }
    bool videoArrangeOn() const override { return false; }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>&) override { return true; }
};

// Decoding is the codec's cost, not the link's: this one yields nothing.
class NoDecode final : public VideoDecompressor {
public:
    bool canDecompress(const BitmapInfoHeader&) const override { return true; }
    std::unique_ptr<VideoDecompressor> fresh() const override { return std::make_unique<NoDecode>(); }
    std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t>) override { return std::nullopt; }
};

class NoDecodeFactory final : public DecompressorFactory {
public:
    std::unique_ptr<VideoDecompressor> Open(std::string_view) override {
        return std::make_unique<NoDecode>();
    }
    std::unique_ptr<VideoDecompressor> locate(const BitmapInfoHeader&) override { return nullptr; }
};

// A connection with no windows, store or decoding behind it, whose timer
// never fires: the benchmark drains it as fast as it can go.
struct BenchConnection {
    static CommPortOptions quietOptions() {
        CommPortOptions options;
        options.timerPeriod = std::chrono::hours(1);
        return options;
    }
    static QCoreApplication* application() {
        static int argc = 0; // QCoreApplication keeps a reference to it
        static QCoreApplication* app = new QCoreApplication(argc, nullptr);
        return app;
    }
    BenchConnection() { port.attachMainWindow(nullptr, &view, nullptr); }
    QCoreApplication* app = application(); // before the connection's timers
    ScriptedDialogService dialogs;
    NullStore store;
    ChannelTable channels;
    NoDecodeFactory codecs;
    NullView view;
    CommPortOptions options = quietOptions();
    CommPort port{dialogs, store, channels, codecs, options};
};

void BM_CommPortThroughPty(benchmark::State& state) {
    const size_t payloadSize = size_t(state.range(0));
    const int framesPerRound = 200;
    const auto packet = videoPacket(1, 1, payloadSize, 3);

    BenchConnection connection;
    CommPort& port = connection.port;

    double viewerCpu = 0;
    size_t frames = 0;
    for (auto _ : state) {
        const int controller = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(controller);
        unlockpt(controller);
        const int terminal = open(ptsname(controller), O_RDWR | O_NOCTTY);
        termios tio{};
        tcgetattr(terminal, &tio);
        cfmakeraw(&tio);
        tcsetattr(terminal, TCSANOW, &tio);
        if (!port.Start(terminal, false)) {
            state.SkipWithError("start failed");
            break;
        }
        std::atomic<double> farEndCpu{0};
        std::thread farEnd([&] {
            for (int i = 0; i < framesPerRound; ++i) {
                for (size_t at = 0; at < packet.size();) {
                    const ssize_t n = write(controller, packet.data() + at, packet.size() - at);
                    if (n <= 0)
                        return;
                    at += size_t(n);
                }
            }
            farEndCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        });
        // Drain what the far end sends to us (the login) so its side never fills.
        const double cpuBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const int start = port.frameCount();
        while (port.frameCount() - start < framesPerRound) {
            port.DrainReceived();
            if (port.port().receivedCount() == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        farEnd.join();
        viewerCpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - farEndCpu;
        frames += framesPerRound;
        port.Stop();
        close(controller);
    }
    state.SetBytesProcessed(int64_t(frames * packet.size()));
    state.counters["viewer_cpu_us_per_frame"] = viewerCpu / double(frames) * 1e6;
}
BENCHMARK(BM_CommPortThroughPty)->Arg(20000)->Arg(150000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One connection tick's drain while a hostile caller floods: 5,000 small
// frames, each under a stream key never seen before, wait in the receive
// queue. A drain must handle a bounded batch and leave the rest, so the
// time per drain stays flat however much is queued.
void BM_DrainReceivedUnderFlood(benchmark::State& state) {
    BenchConnection connection;
    CommPort& port = connection.port;
    const int controller = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(controller);
    unlockpt(controller);
    if (!port.Start(open(ptsname(controller), O_RDWR | O_NOCTTY), false)) {
        state.SkipWithError("start failed");
        return;
    }
    constexpr int kQueued = 5000;
    int32_t key = 1;
    double slowest = 0;
    int64_t packets = 0;
    for (auto _ : state) {
        state.PauseTiming();
        while (port.port().receivedCount() > 0)
            port.port().takeReceived();
        // Read-sized chunks, as the serial reader queues them.
        for (int i = 0; i < kQueued; ++i)
            port.PushFrontReceived(videoPacket(1, key++, 400, uint32_t(i)));
        const int before = port.frameCount();
        const size_t queued = port.port().receivedCount();
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        port.DrainReceived();
        slowest = std::max(
            slowest,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        state.PauseTiming();
        packets += int64_t(queued - port.port().receivedCount());
        benchmark::DoNotOptimize(port.frameCount() - before);
        state.ResumeTiming();
    }
    port.Stop();
    close(controller);
    state.counters["packets_per_drain"] = double(packets) / double(state.iterations());
    state.counters["slowest_drain_ms"] = slowest;
}
BENCHMARK(BM_DrainReceivedUnderFlood)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
