#pragma once

// The clips the program holds open right now (recording, or open in a
// player), by video file path, for clean-ups that run on other threads.
//
// How it works: one process-wide set behind a mutex. Holding a Token keeps
// its path listed; the same path may be held more than once (two players).
// Any thread may ask Contains at any time.

#include <string>

class ClipsInUse {
public:
    class Token {
    public:
        Token() = default;
        explicit Token(std::string path);
        ~Token();
        Token(Token&& other) noexcept;
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

    private:
        void release();
        std::string m_path;
    };

    static bool contains(const std::string& path);
};
