#pragma once

// The byte mover of a connected call. It owns the call's descriptor (a serial
// device, or a pseudo-terminal), puts it in raw binary mode while keeping the
// speed, parity and flow control the line control chose, and runs two threads:
//
// - the reader waits with poll() for data, a line error or its stop event;
//   every read of up to 1,024 bytes becomes one block at the tail of the
//   receive queue. A line error (POLLERR/POLLPRI) is cleared and reading goes
//   on; an empty read or a read error ends the reader silently.
// - the writer waits for its stop event or the send signal and writes the send
//   queue's blocks from the head, each one whole (partial writes continue) or
//   until the stop event fires. A block is removed only once written.
//
// The descriptor is non-blocking and every wait also polls the thread's stop
// event, so stopping cancels a blocked read or write at once. Each queue has
// its own lock and no code holds both. Nothing here parses bytes or touches
// windows: the owner drains the receive queue on its own thread.
//
// Shutdown order: raise the stop events, wait for each thread for a bounded
// time (running the caller's pump between 20 ms slices so its event loop stays
// alive), drop both queues (unsent bytes are lost), then purge and close the
// descriptor. A thread that does not end in time is left to finish on its own;
// it holds the state it uses, so nothing it touches is freed under it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class SerialEngine {
public:
    using Block = std::vector<uint8_t>;

    static constexpr size_t kReadSize = 1024;
    static constexpr int kReadsPerWake = 32;
    static constexpr std::chrono::milliseconds kDefaultStopBound{15000};

    explicit SerialEngine(std::chrono::milliseconds stopBound = kDefaultStopBound);
    ~SerialEngine();
    SerialEngine(const SerialEngine&) = delete;
    SerialEngine& operator=(const SerialEngine&) = delete;

    // Whether the descriptor names a character device (a serial line or a
    // terminal), the only kind of handle a call may hand over.
    static bool isCharDevice(int fd);
    // A character device or a connected stream socket (a modem behind a
    // serial device server): the handles a call may hand over.
    static bool isByteStream(int fd);

    // Takes the descriptor: raw mode, non-blocking, stop events, reader (at a
    // raised priority where the process may) and writer. On failure everything
    // made so far is released and the descriptor is closed. Fails when already
    // open, without touching the running line or `fd`.
    bool Open(int fd);
    bool IsOpen() const { return m_link != nullptr; }
    // The open descriptor, or -1.
    int descriptor() const;

    // Stops both threads and discards both queues; then purges both
    // directions and closes the descriptor. `pump` runs between wait slices.
    // Does nothing when not open.
    void close(const std::function<void()>& pump);

    // Appends one block to the send queue and wakes the writer. Ignored while
    // not open.
    void QueueSend(Block block);
    // Removes and returns the head of the receive queue.
    std::optional<Block> takeReceived();
    // Puts a block at the head of the receive queue (taken next).
    void PushFrontReceived(Block block);

    // Blocks waiting in the queues (for tests and diagnostics).
    size_t receivedCount() const;
    size_t pendingSendCount() const;
    // Whether each thread is still running.
    bool readerRunning() const;
    bool writerRunning() const;

    void setStopBound(std::chrono::milliseconds bound) { m_stopBound = bound; }

private:
    struct Link;
    struct Worker;

    bool stopWorker(Worker& worker, const std::function<void()>& pump);
    static void runReader(Link& link);
    static void runWriter(Link& link);
    static bool writeBlock(Link& link, const Block& block);

    std::chrono::milliseconds m_stopBound;
    std::shared_ptr<Link> m_link;
    std::unique_ptr<Worker> m_reader;
    std::unique_ptr<Worker> m_writer;
};
