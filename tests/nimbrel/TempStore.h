// A throw-away avatar store: a temporary directory with the store's sub-directories,
// removed with everything in it at the end of the test.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace nimbrel_test {

class TempStore {
public:
    TempStore() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "nimbrel-test-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        for (const char* sub : {"Body", "Up", "Face", "Default", "SNS"})
            std::filesystem::create_directory(m_root / sub);
    }
    ~TempStore() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    // The store root as the control writes it: the install path and "\", backslash-ended.
    std::string WindowsRoot() const { return m_root.string() + "\\"; }
    std::filesystem::path Path(const std::string& relative) const { return m_root / relative; }
    const std::filesystem::path& Root() const { return m_root; }

    // Names in the directory that look like the library's temporary files.
    std::vector<std::string> TempFiles(const std::string& sub) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_root / sub)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(".nimbrel-", 0) == 0) names.push_back(name);
        }
        return names;
    }

private:
    std::filesystem::path m_root;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::optional<std::string> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void SetModificationTime(const std::filesystem::path& path, std::time_t when) {
    const timeval times[2] = {{when, 0}, {when, 0}};
    ::utimes(path.c_str(), times);
}

inline std::time_t ModificationTime(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
}

// Polls until done() holds; generous, since the machine may be loaded.
template <typename Condition>
bool WaitFor(Condition done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Polls until the file holds `expected`.
inline bool WaitForContent(const std::filesystem::path& path, const std::string& expected) {
    return WaitFor([&] { return ReadFile(path) == expected; });
}

}  // namespace nimbrel_test
