#include "PathMapping.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <vector>

namespace nimbrel {
namespace {

std::vector<std::string> SplitComponents(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (char ch : path) {
        if (ch == '/' || ch == '\\') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += ch;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The entry of `directory` whose name equals `name` without regard to case, or `name`
// itself when there is none (a file about to be created keeps the spelling it was given).
std::string MatchEntry(const std::string& directory, const std::string& name) {
    if (name == "." || name == ".." || Exists(directory + name)) return name;
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return name;
    std::string match = name;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            match = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return match;
}

}  // namespace

std::string ToPosix(std::string_view windowsPath) {
    const bool absolute = !windowsPath.empty() && (windowsPath[0] == '/' || windowsPath[0] == '\\');
    std::string result = absolute ? "/" : "";
    const std::vector<std::string> parts = SplitComponents(windowsPath);
    for (size_t i = 0; i < parts.size(); ++i) {
        result += MatchEntry(result, parts[i]);
        if (i + 1 < parts.size()) result += '/';
    }
    return result;
}

std::string NormalisePosixPath(std::string_view path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> kept;
    std::string current;
    auto flush = [&] {
        if (current.empty() || current == ".") {
        } else if (current == "..") {
            if (!kept.empty() && kept.back() != "..") {
                kept.pop_back();
            } else if (!absolute) {
                kept.push_back(current);
            }
        } else {
            kept.push_back(current);
        }
        current.clear();
    };
    for (char ch : path) {
        if (ch == '/') {
            flush();
        } else {
            current += ch;
        }
    }
    flush();
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) result += '/';
        result += kept[i];
    }
    return result.empty() ? "." : result;
}

bool IsBelow(std::string_view root, std::string_view path) {
    const std::string normalRoot = NormalisePosixPath(root);
    const std::string normalPath = NormalisePosixPath(path);
    if (normalRoot == ".") {
        return normalPath != "." && normalPath[0] != '/' && normalPath != ".." && normalPath.rfind("../", 0) != 0;
    }
    const std::string prefix = normalRoot == "/" ? "/" : normalRoot + "/";
    return normalPath.size() > prefix.size() && normalPath.compare(0, prefix.size(), prefix) == 0;
}

bool HasParentComponent(std::string_view path) {
    for (const std::string& part : SplitComponents(path)) {
        if (part == "..") return true;
    }
    return false;
}

}  // namespace nimbrel
