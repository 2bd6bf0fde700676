#pragma once

#include <string>

// A folder under $TMPDIR (or /tmp) made with mkdtemp and removed with all its
// contents when the object goes away.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "dialscope-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};
