#include "SerialEngine.h"
#include "PtyPair.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return bytes;
}

template <typename Pred> bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Collects received blocks until `total` bytes came.
std::vector<SerialEngine::Block> Collect(SerialEngine& port, size_t total) {
    std::vector<SerialEngine::Block> blocks;
    size_t got = 0;
    WaitUntil([&] {
        while (auto block = port.TakeReceived()) {
            got += block->size();
            blocks.push_back(std::move(*block));
        }
        return got >= total;
    });
    return blocks;
}

bool IsOpenDescriptor(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(SerialEngine, OnlyCharacterDevicesAreCommHandles) {
    TempDir dir;
    const int file = ::open(dir.file("plain").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(file, 0);
    EXPECT_FALSE(SerialEngine::IsCharDevice(file));
    ::close(file);
    PtyPair pty;
    ASSERT_TRUE(pty.valid());
    EXPECT_TRUE(SerialEngine::IsCharDevice(pty.controller()));
    EXPECT_FALSE(SerialEngine::IsCharDevice(-1));
}

TEST(SerialEngine, BurstArrivesInOrderAsSeveralBoundedChunks) {
    PtyPair pty;
    ASSERT_TRUE(pty.valid());
    SerialEngine port;
    ASSERT_TRUE(port.Open(pty.releaseTerminal()));
    const std::vector<uint8_t> burst = Pattern(10000);
    ASSERT_TRUE(pty.write(burst));

    const std::vector<SerialEngine::Block> blocks = Collect(port, burst.size());
    std::vector<uint8_t> joined;
    for (const auto& block : blocks) {
        EXPECT_LE(block.size(), SerialEngine::kReadSize);
        EXPECT_FALSE(block.empty());
        joined.insert(joined.end(), block.begin(), block.end());
    }
    EXPECT_EQ(joined, burst);
    EXPECT_GE(blocks.size(), 10u);
    port.Close({});
}

TEST(SerialEngine, PushedFrontBlockIsTakenFirst) {
    PtyPair pty;
    SerialEngine port;
    ASSERT_TRUE(port.Open(pty.releaseTerminal()));
    ASSERT_TRUE(pty.write({1, 2, 3}));
    ASSERT_TRUE(WaitUntil([&] { return port.ReceivedCount() == 1; }));
    port.PushFrontReceived({9});
    EXPECT_EQ(port.TakeReceived(), SerialEngine::Block({9}));
    EXPECT_EQ(port.TakeReceived(), SerialEngine::Block({1, 2, 3}));
    EXPECT_FALSE(port.TakeReceived());
}

TEST(SerialEngine, QueuedBlocksLeaveWholeAndInOrderEvenWhenLargerThanTheLineBuffer) {
    PtyPair pty;
    SerialEngine port;
    ASSERT_TRUE(port.Open(pty.releaseTerminal()));
    const std::vector<uint8_t> big = Pattern(300000, 7);
    port.QueueSend({'a', 'b'});
    port.QueueSend(big);
    port.QueueSend({'z'});
    std::vector<uint8_t> expected = {'a', 'b'};
    expected.insert(expected.end(), big.begin(), big.end());
    expected.push_back('z');
    EXPECT_EQ(pty.read(expected.size()), expected);
    EXPECT_TRUE(WaitUntil([&] { return port.PendingSendCount() == 0; }));
}

TEST(SerialEngine, StopCancelsABlockedWriterAtOnceAndDiscardsUnsentData) {
    PtyPair pty;
    SerialEngine port(5000ms);
    ASSERT_TRUE(port.Open(pty.releaseTerminal()));
    // Nobody reads the far end: the writer fills the line and then waits.
    port.QueueSend(Pattern(1 << 20));
    port.QueueSend(Pattern(1000));
    ASSERT_TRUE(WaitUntil([&] { return port.WriterRunning(); }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(port.PendingSendCount(), 2u);

    int pumps = 0;
    const auto started = std::chrono::steady_clock::now();
    port.Close([&] { ++pumps; });
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 1000ms);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.PendingSendCount(), 0u);
    // What was still queued never reaches the far end.
    EXPECT_LT(pty.read(1 << 21, 200).size(), size_t(1) << 20);
}

TEST(SerialEngine, StopTwiceAndQueueingWhileClosedAreHarmless) {
    PtyPair pty;
    SerialEngine port;
    port.Close({}); // never opened
    const int fd = pty.releaseTerminal();
    ASSERT_TRUE(port.Open(fd));
    EXPECT_EQ(port.Descriptor(), fd);
    PtyPair other;
    const int second = other.releaseTerminal();
    EXPECT_FALSE(port.Open(second)) << "a running line is never replaced";
    ::close(second);
    ASSERT_TRUE(pty.write({1}));
    ASSERT_TRUE(WaitUntil([&] { return port.ReceivedCount() == 1; }));
    port.Close({});
    EXPECT_FALSE(IsOpenDescriptor(fd));
    EXPECT_EQ(port.ReceivedCount(), 0u);
    port.Close({});
    port.QueueSend({1, 2});
    EXPECT_FALSE(port.TakeReceived());
    EXPECT_EQ(port.PendingSendCount(), 0u);
}

TEST(SerialEngine, ReaderEndsSilentlyWhenTheFarEndHangsUpAndTheLineCanStillBeStopped) {
    PtyPair pty;
    SerialEngine port;
    ASSERT_TRUE(port.Open(pty.releaseTerminal()));
    ASSERT_TRUE(pty.write({5, 6}));
    ASSERT_TRUE(WaitUntil([&] { return port.ReceivedCount() == 1; }));
    pty.closeController();
    EXPECT_TRUE(WaitUntil([&] { return !port.ReaderRunning(); }));
    EXPECT_TRUE(port.WriterRunning());
    EXPECT_EQ(port.TakeReceived(), SerialEngine::Block({5, 6})) << "data read before the hang-up is kept";
    port.QueueSend({1, 2, 3}); // an immediate write error drops the block
    EXPECT_TRUE(WaitUntil([&] { return port.PendingSendCount() == 0; }));
    port.Close({});
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialEngine, ReopensForTheNextCall) {
    SerialEngine port;
    for (int call = 0; call < 3; ++call) {
        PtyPair pty;
        ASSERT_TRUE(port.Open(pty.releaseTerminal()));
        port.QueueSend({uint8_t(call)});
        EXPECT_EQ(pty.read(1), std::vector<uint8_t>({uint8_t(call)}));
        port.Close({});
    }
}
