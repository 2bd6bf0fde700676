#pragma once

// A clip index build hook for tests: holds each catalog build until opened
// (a slow build, made on purpose) and records which threads built.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class BuildGate {
public:
    std::function<void()> hook() {
        return [this] {
            std::unique_lock lock(m_lock);
            m_builders.push_back(std::this_thread::get_id());
            m_changed.wait(lock, [this] { return m_open; });
        };
    }
    void open() {
        const std::lock_guard lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    void close() {
        const std::lock_guard lock(m_lock);
        m_open = false;
    }
    std::vector<std::thread::id> builders() {
        const std::lock_guard lock(m_lock);
        return m_builders;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
    std::vector<std::thread::id> m_builders;
};
