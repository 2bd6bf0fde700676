#include "clips/core/ClipsInUse.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::unordered_map<std::string, int>& held() {
    static std::unordered_map<std::string, int> held;
    return held;
}

} // namespace

ClipsInUse::Token::Token(std::string path)
    : m_path(std::move(path)) {
    if (m_path.empty())
        return;
    std::lock_guard lock(Lock());
    ++held()[m_path];
}

ClipsInUse::Token::~Token() {
    release();
}

ClipsInUse::Token::Token(Token&& other) noexcept
    : m_path(std::move(other.m_path)) {
    other.m_path.clear();
}

ClipsInUse::Token& ClipsInUse::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        other.m_path.clear();
    }
    return *this;
}

void ClipsInUse::Token::release() {
    if (m_path.empty())
        return;
    std::lock_guard lock(Lock());
    auto it = held().find(m_path);
    if (it != held().end() && --it->second <= 0)
        held().erase(it);
    m_path.clear();
}

bool ClipsInUse::contains(const std::string& path) {
    std::lock_guard lock(Lock());
    return held().count(path) != 0;
}
