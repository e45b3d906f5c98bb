// Windows paths onto the POSIX file system: separators, drive prefixes and letter case.
#include "platform/path.h"

#include "internal/missing_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>
#include <vector>

namespace platform {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char FoldCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The entry of directory whose name matches name without regard to case; empty when none.
// Several candidates (possible on a case-sensitive file system) resolve to the smallest in byte
// order, so that the choice does not depend on the directory's order.
std::string FindEntryNoCase(const std::string& directory, const std::string& name) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
    if (!dir) return {};
    std::string best;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string candidate = entry->d_name;
        if (NamesEqualNoCase(candidate, name) && (best.empty() || candidate < best)) {
            best = candidate;
        }
    }
    return best;
}

}  // namespace

bool NamesEqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

bool MatchesWildcard(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*" || pattern == "*") return true;
    // As on the original, a final '.' also matches the end of a name without any '.': "*."
    // finds the names that have no extension.
    if (pattern.size() > 1 && pattern.back() == '.' && name.find('.') == std::string::npos &&
        MatchesWildcard(name, pattern.substr(0, pattern.size() - 1))) {
        return true;
    }
    // Greedy match with one backtracking point: the last '*' seen.
    size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string ToPosixPath(LPCTSTR windowsPath) {
    return internal::ResolvePath(windowsPath, nullptr);
}

namespace internal {

std::string ResolvePath(const char* windowsPath, KnownPath* known) {
    if (windowsPath == nullptr || *windowsPath == '\0') return {};
    std::string posix;
    if (ResolveRemembered(windowsPath, &posix, known)) return posix;
    posix = ResolveByWalking(windowsPath);
    RememberResolved(windowsPath, posix);
    // Below a confined folder the first resolution through a folder leaves it remembered: the
    // answer then also says what the entry is.
    if (known != nullptr) {
        std::string again;
        if (ResolveRemembered(windowsPath, &again, known) && again != posix) *known = KnownPath();
    }
    return posix;
}

std::string ResolveByWalking(const char* windowsPath) {
    if (windowsPath == nullptr || *windowsPath == '\0') return {};
    const std::string in = windowsPath;

    size_t pos = 0;
    bool absolute = false;
    if (in.size() >= 2 && std::isalpha(static_cast<unsigned char>(in[0])) && in[1] == ':') {
        absolute = true;  // a drive stands for the root
        pos = 2;
    }
    if (pos < in.size() && IsSeparator(in[pos])) absolute = true;

    std::vector<std::string> components;
    for (size_t i = pos; i < in.size();) {
        if (IsSeparator(in[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < in.size() && !IsSeparator(in[end])) ++end;
        components.push_back(in.substr(i, end - i));
        i = end;
    }

    std::string out = absolute ? "/" : "";
    bool resolving = true;  // false from the first component that does not exist
    for (size_t i = 0; i < components.size(); ++i) {
        std::string component = components[i];
        const std::string directory = out.empty() ? "." : out;
        if (resolving && component != "." && component != ".." && !Exists(out + component)) {
            const std::string match = FindEntryNoCase(directory, component);
            if (match.empty()) {
                resolving = false;
            } else {
                component = match;
            }
        }
        out += component;
        if (i + 1 < components.size()) out += '/';
    }
    if (!components.empty() && IsSeparator(in.back())) out += '/';
    return out;
}

}  // namespace internal
}  // namespace platform
