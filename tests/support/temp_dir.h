// A temporary directory for a test, removed with everything in it when the object goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace portrix_test {

class TempDir {
public:
    TempDir() {
#ifdef _WIN32
        // Built for Windows: no mkdtemp, so try numbered names until one is new.
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (unsigned n = GetCurrentProcessId() * 1000u; m_path.empty(); ++n) {
            std::string candidate = (base / ("portrix-test-" + std::to_string(n))).string();
            if (std::filesystem::create_directory(candidate)) m_path = candidate;
        }
#else
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/portrix-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ignored;
        // Read-only entries would stop the removal; give them write permission back first.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory as a POSIX path (built for Windows, a Windows one), without a trailing
    // separator.
    const std::string& path() const {
        return m_path;
    }
    // A name inside the directory.
    std::string operator/(const std::string& name) const {
        return m_path + "/" + name;
    }

    // Writes a file (its directories must exist) and returns its path.
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string file = *this / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(*this / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Exists(const std::string& name) const {
        return std::filesystem::exists(std::filesystem::symlink_status(*this / name));
    }

private:
    std::string m_path;
};

}  // namespace portrix_test
