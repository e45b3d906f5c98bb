// Private-profile (INI) files.
//
// The file is read whole for every call and, for a write, written back whole: into a temporary
// file beside it, flushed, that then replaces it by rename, so that a failed or interrupted
// write leaves the old file (or none, when there was none) and never an empty or cut one. A
// write first opens an existing file under the share-mode rule (reading and writing, letting
// others only read), so an open that denies writing makes it fail as on the original; a new
// file comes into being only by the rename, whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "internal/fd_io.h"
#include "internal/file_share.h"
#include "internal/write_temporary.h"
#include "platform/path.h"
#include "winbase.h"

namespace {

namespace pi = platform::internal;
using platform::NamesEqualNoCase;

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

struct Line {
    std::string text;  // as in the file, without its line end
    enum Kind { Blank, Section, Entry } kind = Blank;
    std::string name;       // section or key name, trimmed
    std::string value;      // entry value, trimmed
    bool hasValue = false;  // the entry has an "="; one without it is listed but has no value
};

Line Classify(const std::string& text) {
    Line line;
    line.text = text;
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) return line;
    if (trimmed[0] == '[') {
        line.kind = Line::Section;
        const size_t close = trimmed.find(']');
        line.name =
            Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return line;
    }
    line.kind = Line::Entry;
    const size_t equals = trimmed.find('=');
    line.name = Trim(trimmed.substr(0, equals));
    if (equals != std::string::npos) {
        line.value = Trim(trimmed.substr(equals + 1));
        line.hasValue = true;
    }
    return line;
}

std::vector<Line> ParseProfile(const std::string& content) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string text = content.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        lines.push_back(Classify(text));
        start = end + 1;
    }
    return lines;
}

std::string SerializeProfile(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& line : lines) out += line.text + "\r\n";
    return out;
}

// The body of a section: [first, last) after its header.
struct SectionRange {
    size_t header = 0;
    size_t first = 0;
    size_t last = 0;
};

bool FindSection(const std::vector<Line>& lines, const std::string& name, SectionRange* range) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::Section && NamesEqualNoCase(lines[i].name, name)) {
            size_t end = i + 1;
            while (end < lines.size() && lines[end].kind != Line::Section) ++end;
            *range = {i, i + 1, end};
            return true;
        }
    }
    return false;
}

bool LoadProfile(LPCSTR fileName, std::vector<Line>* lines) {
    const std::string posix = platform::ToPosixPath(fileName);
    DWORD error = 0;
    const int fd = pi::ShareOpen(posix, pi::kAccessRead, pi::kShareRead | pi::kShareWrite,
                                 pi::Disposition::OpenExisting, &error);
    if (fd < 0) return false;
    std::string content;
    const bool ok = pi::ReadToEnd(fd, &content) == 0;
    close(fd);
    if (ok) *lines = ParseProfile(content);
    return ok;
}

// Replaces the file at posix (open as fd, or -1 when it does not exist yet) with content: a
// temporary file and a rename. Only where the directory refuses new entries is an existing
// file rewritten in place, after its space has been reserved, so that a full disk fails the
// write before anything is changed (a crash in the middle of that rewrite can still cut it).
bool ReplaceContent(const std::string& posix, int fd, const std::string& content, DWORD* error) {
    constexpr mode_t kNewFileMode = 0644;
    std::string name;
    const int out = pi::CreateWriteTemporary(posix, &name);
    if (out >= 0) {
        struct stat st;
        fchmod(out, fd >= 0 && fstat(fd, &st) == 0 ? (st.st_mode & 07777) : kNewFileMode);
        const bool written = pi::WriteAll(out, content) && fsync(out) == 0;
        const int writeErrno = errno;
        close(out);
        if (written && rename(name.data(), posix.c_str()) == 0) return true;
        *error = pi::Win32ErrorFromErrno(written ? errno : writeErrno, posix);
        unlink(name.data());
        return false;
    }
    if (fd < 0 || (errno != EACCES && errno != EPERM)) {
        *error = pi::Win32ErrorFromErrno(errno, posix);
        return false;
    }
    const int reserved =
        content.empty() ? 0 : posix_fallocate(fd, 0, static_cast<off_t>(content.size()));
    if (reserved != 0) {
        *error = pi::Win32ErrorFromErrno(reserved, posix);
        return false;
    }
    if (lseek(fd, 0, SEEK_SET) != 0 || !pi::WriteAll(fd, content) ||
        ftruncate(fd, static_cast<off_t>(content.size())) != 0) {
        *error = pi::Win32ErrorFromErrno(errno, posix);
        return false;
    }
    return true;
}

BOOL UpdateProfile(LPCSTR fileName, const std::function<void(std::vector<Line>&)>& change) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string posix = platform::ToPosixPath(fileName);
    DWORD error = 0;
    const int fd = pi::ShareOpen(posix, pi::kAccessRead | pi::kAccessWrite, pi::kShareRead,
                                 pi::Disposition::OpenExisting, &error);
    if (fd < 0 && error != ERROR_FILE_NOT_FOUND) {
        SetLastError(error);
        return FALSE;
    }
    std::string content;
    const int readErrno = fd >= 0 ? pi::ReadToEnd(fd, &content) : 0;
    if (readErrno != 0) {
        SetLastError(pi::Win32ErrorFromErrno(readErrno, posix));
        close(fd);
        return FALSE;
    }
    std::vector<Line> lines = ParseProfile(content);
    change(lines);
    const bool ok = ReplaceContent(posix, fd, SerializeProfile(lines), &error);
    if (fd >= 0) close(fd);
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

// The end of a section's entries, where a new key goes: after its last non-blank line.
size_t InsertionPoint(const std::vector<Line>& lines, const SectionRange& range) {
    size_t at = range.last;
    while (at > range.first && lines[at - 1].kind == Line::Blank) --at;
    return at;
}

// Copies a list of terminated names ending in a second NUL; a list that does not fit is cut
// and still ends in two NULs, and the result is then size - 2, as on the original.
DWORD CopyList(const std::vector<std::string>& names, LPSTR result, DWORD size) {
    if (size < 2) {
        if (size == 1) result[0] = '\0';
        return 0;
    }
    DWORD used = 0;
    for (const std::string& name : names) {
        for (char c : name) {
            if (used + 2 >= size) {
                result[size - 2] = '\0';
                result[size - 1] = '\0';
                return size - 2;
            }
            result[used++] = c;
        }
        if (used + 2 >= size) {
            result[size - 2] = '\0';
            result[size - 1] = '\0';
            return size - 2;
        }
        result[used++] = '\0';
    }
    result[used] = '\0';
    if (used == 0 && size > 1) result[1] = '\0';
    return used;
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR result,
                               DWORD size, LPCSTR fileName) {
    if (result == nullptr || size == 0) return 0;
    std::vector<Line> lines;
    const bool loaded = fileName != nullptr && LoadProfile(fileName, &lines);

    SectionRange range;
    const bool sectionFound = section != nullptr && loaded && FindSection(lines, section, &range);
    if (section == nullptr || (key == nullptr && sectionFound)) {
        std::vector<std::string> names;
        if (section == nullptr) {
            for (const Line& line : lines) {
                if (line.kind == Line::Section) names.push_back(line.name);
            }
        } else {
            for (size_t i = range.first; i < range.last; ++i) {
                if (lines[i].kind == Line::Entry) names.push_back(lines[i].name);
            }
        }
        return CopyList(names, result, size);
    }

    std::string value;
    bool found = false;
    if (sectionFound && key != nullptr) {
        for (size_t i = range.first; i < range.last && !found; ++i) {
            if (lines[i].kind == Line::Entry && lines[i].hasValue &&
                NamesEqualNoCase(lines[i].name, key)) {
                value = Unquote(lines[i].value);
                found = true;
            }
        }
    }
    if (!found) {
        value = defaultValue != nullptr ? defaultValue : "";
        value.erase(value.find_last_not_of(' ') + 1);
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    const DWORD copied = std::min<DWORD>(static_cast<DWORD>(value.size()), size - 1);
    std::memcpy(result, value.data(), copied);
    result[copied] = '\0';
    return copied;
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    char buffer[64];
    if (GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), fileName) == 0) {
        return static_cast<UINT>(defaultValue);
    }
    // Decimal, or hexadecimal after "0x", as the original's string-to-integer conversion reads it.
    const char* digits = buffer + std::strspn(buffer, " \t");
    const bool negative = *digits == '-';
    if (*digits == '-' || *digits == '+') ++digits;
    int base = 10;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    const unsigned long magnitude = std::strtoul(digits, nullptr, base);
    return static_cast<UINT>(negative ? 0u - magnitude : magnitude);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    if (section == nullptr) {
        // All three null only asks to flush a cache, which this layer does not keep.
        if (key == nullptr && value == nullptr) return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return UpdateProfile(fileName, [&](std::vector<Line>& lines) {
        SectionRange range;
        const bool exists = FindSection(lines, section, &range);
        if (key == nullptr) {
            if (exists) lines.erase(lines.begin() + range.header, lines.begin() + range.last);
            return;
        }
        if (exists) {
            for (size_t i = range.first; i < range.last; ++i) {
                if (lines[i].kind == Line::Entry && NamesEqualNoCase(lines[i].name, key)) {
                    if (value == nullptr) {
                        lines.erase(lines.begin() + i);
                    } else {
                        lines[i] =
                            Classify(lines[i].name + "=" + value);  // the name keeps its case
                    }
                    return;
                }
            }
        }
        if (value == nullptr) return;
        const Line entry = Classify(std::string(key) + "=" + value);
        if (exists) {
            lines.insert(lines.begin() + InsertionPoint(lines, range), entry);
        } else {
            lines.push_back(Classify(std::string("[") + section + "]"));
            lines.push_back(entry);
        }
    });
}

BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR entries, LPCSTR fileName) {
    if (section == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<Line> body;
    if (entries != nullptr) {
        for (const char* entry = entries; *entry != '\0'; entry += std::strlen(entry) + 1) {
            body.push_back(Classify(entry));
        }
    }
    return UpdateProfile(fileName, [&](std::vector<Line>& lines) {
        SectionRange range;
        const bool exists = FindSection(lines, section, &range);
        if (entries == nullptr) {
            if (exists) lines.erase(lines.begin() + range.header, lines.begin() + range.last);
            return;
        }
        if (exists) {
            const size_t keep = InsertionPoint(lines, range);  // blank lines after it stay
            lines.erase(lines.begin() + range.first, lines.begin() + keep);
            lines.insert(lines.begin() + range.first, body.begin(), body.end());
        } else {
            lines.push_back(Classify(std::string("[") + section + "]"));
            lines.insert(lines.end(), body.begin(), body.end());
        }
    });
}
