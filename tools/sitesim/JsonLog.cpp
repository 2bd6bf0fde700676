#include "tools/sitesim/JsonLog.h"

#include <cmath>

namespace sitesim {

JsonObject::JsonObject(std::string_view event) {
    add("event", event);
}

std::string JsonObject::quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u >= 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

void JsonObject::key(std::string_view key) {
    if (!m_fields.empty())
        m_fields += ',';
    m_fields += quote(key);
    m_fields += ':';
}

JsonObject& JsonObject::add(std::string_view k, std::string_view value) {
    key(k);
    m_fields += quote(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, int64_t value) {
    key(k);
    m_fields += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, double value) {
    key(k);
    if (!std::isfinite(value)) {
        m_fields += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    m_fields += buf;
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, bool value) {
    key(k);
    m_fields += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view k, std::string_view json) {
    key(k);
    m_fields += json;
    return *this;
}

JsonLog::~JsonLog() {
    if (m_ownsFile && m_file)
        std::fclose(m_file);
}

bool JsonLog::open(const std::string& path) {
    m_opened = std::chrono::steady_clock::now();
    if (path.empty())
        return true;
    if (path == "-") {
        m_file = stdout;
        return true;
    }
    m_file = std::fopen(path.c_str(), "w");
    m_ownsFile = m_file != nullptr;
    return m_file != nullptr;
}

void JsonLog::write(const JsonObject& entry) {
    if (!m_file)
        return;
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_opened).count();
    std::fprintf(m_file, "{\"t\":%.3f,%s}\n", t, entry.fields().c_str());
    std::fflush(m_file);
}

} // namespace sitesim
