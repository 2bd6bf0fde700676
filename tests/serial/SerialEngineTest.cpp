#include "platform/serial/SerialEngine.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 7 + i / 251);
    return bytes;
}

template <typename Pred> bool waitUntil(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

bool isOpenFd(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(SerialEngine, OnlyCharacterDevicesAreCommHandles) {
    TempDir dir;
    const int file = ::open(dir.file("plain").c_str(), O_CREAT | O_RDWR, 0600);
    EXPECT_FALSE(SerialEngine::isCharDevice(file));
    ::close(file);
    PtyPair pty;
    EXPECT_TRUE(SerialEngine::isCharDevice(pty.controller()));
    // A modem behind a device server hands over a stream socket; datagrams
    // and plain files are no byte streams.
    EXPECT_TRUE(SerialEngine::isByteStream(pty.controller()));
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_TRUE(SerialEngine::isByteStream(pair[0]));
    ::close(pair[0]);
    ::close(pair[1]);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    EXPECT_FALSE(SerialEngine::isByteStream(pair[0]));
    ::close(pair[0]);
    ::close(pair[1]);
    const int again = ::open(dir.file("plain").c_str(), O_RDWR);
    EXPECT_FALSE(SerialEngine::isByteStream(again));
    ::close(again);
}

TEST(SerialEngine, ABurstArrivesInOrderAsSeveralChunksAndPushedBackBytesComeFirst) {
    PtyPair pty;
    SerialEngine engine;
    ASSERT_TRUE(engine.Open(pty.releaseTerminal()));
    const std::vector<uint8_t> burst = pattern(10000);
    ASSERT_TRUE(pty.write(burst));
    std::vector<uint8_t> joined;
    size_t chunks = 0;
    ASSERT_TRUE(waitUntil([&] {
        while (auto block = engine.takeReceived()) {
            EXPECT_LE(block->size(), SerialEngine::kReadSize);
            joined.insert(joined.end(), block->begin(), block->end());
            ++chunks;
        }
        return joined.size() >= burst.size();
    }));
    EXPECT_EQ(joined, burst);
    EXPECT_GE(chunks, 10u);

    ASSERT_TRUE(pty.write({1, 2}));
    ASSERT_TRUE(waitUntil([&] { return engine.receivedCount() == 1; }));
    engine.PushFrontReceived({9});
    EXPECT_EQ(engine.takeReceived(), SerialEngine::Block({9}));
    EXPECT_EQ(engine.takeReceived(), SerialEngine::Block({1, 2}));
}

TEST(SerialEngine, QueuedBlocksLeaveWholeAndInOrderEvenWhenLargerThanTheLineBuffer) {
    PtyPair pty;
    SerialEngine engine;
    ASSERT_TRUE(engine.Open(pty.releaseTerminal()));
    const std::vector<uint8_t> big = pattern(300000);
    engine.QueueSend({'a'});
    engine.QueueSend(big);
    engine.QueueSend({'z'});
    std::vector<uint8_t> expected = {'a'};
    expected.insert(expected.end(), big.begin(), big.end());
    expected.push_back('z');
    EXPECT_EQ(pty.read(expected.size()), expected);
}

TEST(SerialEngine, StopCancelsABlockedWriterAtOnceAndDiscardsUnsentData) {
    PtyPair pty;
    SerialEngine engine(5000ms);
    ASSERT_TRUE(engine.Open(pty.releaseTerminal()));
    engine.QueueSend(pattern(1 << 20)); // nobody reads: the writer fills the line and waits
    engine.QueueSend(pattern(1000));
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(engine.pendingSendCount(), 2u);

    const auto started = std::chrono::steady_clock::now();
    engine.close({});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
    EXPECT_EQ(engine.pendingSendCount(), 0u);
    EXPECT_LT(pty.read(1 << 21, 200).size(), size_t(1) << 20) << "queued data never reaches the far end";
}

TEST(SerialEngine, StopIsHarmlessTwiceAndTheEngineServesTheNextCall) {
    SerialEngine engine;
    engine.close({});
    for (int call = 0; call < 2; ++call) {
        PtyPair pty;
        const int fd = pty.releaseTerminal();
        ASSERT_TRUE(engine.Open(fd));
        PtyPair other;
        const int second = other.releaseTerminal();
        EXPECT_FALSE(engine.Open(second)) << "a running line is never replaced";
        ::close(second);
        engine.QueueSend({uint8_t(call)});
        EXPECT_EQ(pty.read(1), std::vector<uint8_t>({uint8_t(call)}));
        ASSERT_TRUE(pty.write({1}));
        ASSERT_TRUE(waitUntil([&] { return engine.receivedCount() == 1; }));
        engine.close({});
        EXPECT_FALSE(isOpenFd(fd));
        EXPECT_EQ(engine.receivedCount(), 0u);
        engine.close({});
        engine.QueueSend({1});
        EXPECT_EQ(engine.pendingSendCount(), 0u);
    }
}

TEST(SerialEngine, TheReaderEndsSilentlyWhenTheFarEndHangsUp) {
    PtyPair pty;
    SerialEngine engine;
    ASSERT_TRUE(engine.Open(pty.releaseTerminal()));
    ASSERT_TRUE(pty.write({5, 6}));
    ASSERT_TRUE(waitUntil([&] { return engine.receivedCount() == 1; }));
    pty.closeController();
    EXPECT_TRUE(waitUntil([&] { return !engine.readerRunning(); }));
    EXPECT_TRUE(engine.writerRunning());
    EXPECT_EQ(engine.takeReceived(), SerialEngine::Block({5, 6}));
    engine.QueueSend({1, 2, 3}); // fails at once: dropped as if written
    EXPECT_TRUE(waitUntil([&] { return engine.pendingSendCount() == 0; }));
    engine.close({});
}
