#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A pseudo-terminal pair for tests of code that drives a serial line: the
// code under test gets the terminal side (a character device), the test plays
// the far end on the controller side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool valid() const { return m_controller >= 0 && m_terminal >= 0; }
    int controller() const { return m_controller; }
    // Gives the terminal side away (the receiver closes it).
    int releaseTerminal();
    void closeController();

    // Writes everything to the controller side (blocking).
    bool write(const std::vector<uint8_t>& bytes);
    // Reads from the controller side until `count` bytes came or `timeoutMs`
    // passed without any byte; returns what came.
    std::vector<uint8_t> read(size_t count, int timeoutMs = 2000);

private:
    int m_controller = -1;
    int m_terminal = -1;
};
