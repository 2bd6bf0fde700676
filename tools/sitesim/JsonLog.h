#pragma once

// One JSON object per line: what the simulated site received and did, for
// tests to assert on and for people to read. Every line starts with "t", the
// seconds since the log was opened, then "event" and the event's fields.
// Texts are escaped so each line is valid JSON whatever bytes they came from
// (bytes above 127 are written as \u00XX, i.e. read as Latin-1).

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace sitesim {

class JsonObject {
public:
    explicit JsonObject(std::string_view event);

    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, const std::string& value) {
        return add(key, std::string_view(value));
    }
    JsonObject& add(std::string_view key, int64_t value);
    JsonObject& add(std::string_view key, int32_t value) { return add(key, int64_t{value}); }
    JsonObject& add(std::string_view key, uint32_t value) { return add(key, int64_t{value}); }
    JsonObject& add(std::string_view key, size_t value) { return add(key, int64_t(value)); }
    JsonObject& add(std::string_view key, double value);
    JsonObject& add(std::string_view key, bool value);
    // `json` is inserted as it stands (an array or object built by the caller).
    JsonObject& addRaw(std::string_view key, std::string_view json);

    // The fields after "event", without braces.
    const std::string& fields() const { return m_fields; }
    std::string str() const { return "{" + m_fields + "}"; }

    static std::string quote(std::string_view text);

private:
    void key(std::string_view key);
    std::string m_fields;
};

class JsonLog {
public:
    JsonLog() = default;
    ~JsonLog();
    JsonLog(const JsonLog&) = delete;
    JsonLog& operator=(const JsonLog&) = delete;

    // Starts a new log file; "-" is standard output; an empty path disables the log.
    bool open(const std::string& path);
    void write(const JsonObject& entry);

private:
    std::FILE* m_file = nullptr;
    bool m_ownsFile = false;
    std::chrono::steady_clock::time_point m_opened = std::chrono::steady_clock::now();
};

} // namespace sitesim
