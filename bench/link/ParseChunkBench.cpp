// Receiver throughput on 150 KB video packets cut into chunks of a fixed size.
#include "bench/link/BenchPackets.h"
#include "link/PacketReceiver.h"

#include <benchmark/benchmark.h>

#include <span>

namespace {

class CountingHandler final : public PacketHandler {
public:
    size_t packets = 0;
    bool onPacket(const InboundPacket& packet) override {
        packets += packet.payload.size() > 0;
        return true;
    }
};

void BM_ParseChunk(benchmark::State& state) {
    const size_t chunkSize = size_t(state.range(0));
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; i < 8; ++i) {
        const auto packet = videoPacket(1, 1, 150000, i + 1);
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    PacketReceiver receiver;
    CountingHandler handler;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += chunkSize) {
            std::span<const uint8_t> chunk(stream.data() + at, std::min(chunkSize, stream.size() - at));
            std::vector<uint8_t> leftover = receiver.ParseChunk(chunk, handler);
            while (!leftover.empty())
                leftover = receiver.ParseChunk(std::vector<uint8_t>(std::move(leftover)), handler);
        }
    }
    if (handler.packets != 8 * size_t(state.iterations()))
        state.SkipWithError("packets lost");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["ns_per_byte"] =
        benchmark::Counter(double(stream.size()) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseChunk)->Arg(1024)->Arg(16)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
