#include "PathMapping.h"

#include <vector>

#ifndef _WIN32
#include "platform/path.h"
#endif

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

}  // namespace

std::string ToPosix(std::string_view windowsPath) {
#ifdef _WIN32
    // Windows takes '/' for a separator as well: only the separators change.
    std::string path(windowsPath);
    for (char& ch : path) {
        if (ch == '\\') ch = '/';
    }
    return path;
#else
    // The platform's mapping, so that a path names the same file here as in the control.
    return platform::ToPosixPath(std::string(windowsPath).c_str());
#endif
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
        return normalPath != "." && normalPath[0] != '/' && normalPath != ".." &&
               normalPath.rfind("../", 0) != 0;
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
