// The REGEDIT4 text hive.
#include "registry/hive.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "internal/file_share.h"
#include "platform/path.h"
#include "winbase.h"
#include "winreg.h"

namespace platform::registry {
namespace {

constexpr char kHeader[] = "REGEDIT4";
constexpr char kHeaderVersion5[] = "Windows Registry Editor Version 5.00";
constexpr char kCurrentUser[] = "HKEY_CURRENT_USER";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Reads a quoted string starting at text[pos] == '"' with \\ and \" escapes; pos ends after
// the closing quote. FALSE when it is not closed.
bool ParseQuoted(const std::string& text, size_t& pos, std::string* out) {
    out->clear();
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < text.size()) {
            *out += text[++pos];
        } else {
            *out += c;
        }
    }
    return false;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHexBytes(const std::string& list, std::vector<BYTE>* bytes) {
    bytes->clear();
    size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && (list[pos] == ' ' || list[pos] == '\t')) ++pos;
        if (pos >= list.size()) break;
        int value = 0, digits = 0;
        while (pos < list.size() && HexDigit(list[pos]) >= 0) {
            value = value * 16 + HexDigit(list[pos++]);
            if (++digits > 2) return false;
        }
        if (digits == 0) return false;
        bytes->push_back(static_cast<BYTE>(value));
        while (pos < list.size() && (list[pos] == ' ' || list[pos] == '\t')) ++pos;
        if (pos < list.size() && list[pos++] != ',') return false;
    }
    return true;
}

// Parses the data after '='; FALSE when it is not one of the REGEDIT4 forms.
bool ParseData(const std::string& data, Value* value) {
    if (!data.empty() && data[0] == '"') {
        size_t pos = 0;
        std::string text;
        if (!ParseQuoted(data, pos, &text) || !Trim(data.substr(pos)).empty()) return false;
        value->type = REG_SZ;
        value->data.assign(text.begin(), text.end());
        value->data.push_back(0);
        return true;
    }
    if (data.compare(0, 6, "dword:") == 0) {
        const std::string digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t number = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0) return false;
            number = number * 16 + static_cast<uint32_t>(HexDigit(c));
        }
        value->type = REG_DWORD;
        value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                       static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
        return true;
    }
    if (data.compare(0, 4, "hex:") == 0) {
        value->type = REG_BINARY;
        return ParseHexBytes(data.substr(4), &value->data);
    }
    if (data.compare(0, 4, "hex(") == 0) {
        const size_t close = data.find("):", 4);
        if (close == std::string::npos || close == 4) return false;
        DWORD type = 0;
        for (size_t i = 4; i < close; ++i) {
            if (HexDigit(data[i]) < 0 || i - 4 >= 8) return false;
            type = type * 16 + static_cast<DWORD>(HexDigit(data[i]));
        }
        value->type = type;
        return ParseHexBytes(data.substr(close + 2), &value->data);
    }
    return false;
}

bool IsPlainString(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
    return std::find(value.data.begin(), value.data.end() - 1, 0) == value.data.end() - 1;
}

std::string FormatData(const Value& value) {
    if (IsPlainString(value)) {
        return Quote(std::string(value.data.begin(), value.data.end() - 1));
    }
    char buffer[32];
    if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof(buffer), "dword:%08x", number);
        return buffer;
    }
    std::string out;
    if (value.type == REG_BINARY) {
        out = "hex:";
    } else {
        std::snprintf(buffer, sizeof(buffer), "hex(%x):", value.type);
        out = buffer;
    }
    for (size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof(buffer), i == 0 ? "%02x" : ",%02x", value.data[i]);
        out += buffer;
    }
    return out;
}

bool IsUnder(const std::string& name, const std::string& ancestor) {
    return name.size() > ancestor.size() && name[ancestor.size()] == '\\' &&
           NamesEqualNoCase(name.substr(0, ancestor.size()), ancestor);
}

void RemoveTree(Hive& hive, const std::string& name) {
    auto& keys = hive.keys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const Key& key) {
                                  return NamesEqualNoCase(key.path, name) || IsUnder(key.path, name);
                              }),
               keys.end());
}

bool MakeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
    }
    struct stat st;
    return mkdir(path.c_str(), 0777) == 0 || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

}  // namespace

std::string HivePath() {
    const char* explicitPath = std::getenv("PORTRIX_HKCU");
    if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config != '\0') return std::string(config) + "/portrix/hkcu.reg";
    const char* home = std::getenv("HOME");
    std::string homeDirectory = home != nullptr ? home : "";
    if (homeDirectory.empty()) {
        if (const passwd* user = getpwuid(getuid())) homeDirectory = user->pw_dir;
    }
    return homeDirectory + "/.config/portrix/hkcu.reg";
}

std::string CanonicalKeyName(const std::string& name) {
    std::string out;
    size_t start = 0;
    bool first = true;
    while (start <= name.size()) {
        size_t end = name.find('\\', start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (first && (NamesEqualNoCase(part, "HKCU") || NamesEqualNoCase(part, kCurrentUser))) {
            part = kCurrentUser;
        }
        if (!first) out += '\\';
        out += part;
        first = false;
    }
    return out;
}

Key* FindKey(Hive& hive, const std::string& name) {
    const std::string canonical = CanonicalKeyName(name);
    for (Key& key : hive.keys) {
        if (NamesEqualNoCase(key.path, canonical)) return &key;
    }
    return nullptr;
}

bool KeyExists(const Hive& hive, const std::string& name) {
    const std::string canonical = CanonicalKeyName(name);
    if (NamesEqualNoCase(canonical, kCurrentUser)) return true;
    for (const Key& key : hive.keys) {
        if (NamesEqualNoCase(key.path, canonical) || IsUnder(key.path, canonical)) return true;
    }
    return false;
}

Value* FindValue(Key& key, const std::string& name) {
    for (Value& value : key.values) {
        if (NamesEqualNoCase(value.name, name)) return &value;
    }
    return nullptr;
}

bool ParseHive(const std::string& text, Hive* hive) {
    hive->keys.clear();
    const std::vector<std::string> lines = SplitLines(text);
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) return true;  // an empty file is an empty hive
    std::string header = Trim(lines[i]);
    if (header.compare(0, 3, "\xEF\xBB\xBF") == 0) header.erase(0, 3);
    if (header != kHeader && header != kHeaderVersion5) return false;

    Key* current = nullptr;
    for (++i; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string::npos) {
                current = nullptr;
                continue;
            }
            std::string name = line.substr(1, close - 1);
            if (!name.empty() && name[0] == '-') {
                RemoveTree(*hive, CanonicalKeyName(name.substr(1)));
                current = nullptr;
                continue;
            }
            current = FindKey(*hive, name);
            if (current == nullptr) {
                hive->keys.push_back(Key{CanonicalKeyName(name), {}});
                current = &hive->keys.back();
            }
            continue;
        }
        if (current == nullptr) continue;

        Value value;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] != '"' || !ParseQuoted(line, pos, &value.name)) {
            continue;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') continue;
        std::string data = Trim(line.substr(pos + 1));
        if (data.compare(0, 3, "hex") == 0) {
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                data.pop_back();
                data += Trim(lines[++i]);
            }
        }
        if (data == "-") {
            auto& values = current->values;
            values.erase(std::remove_if(values.begin(), values.end(),
                                        [&](const Value& v) {
                                            return NamesEqualNoCase(v.name, value.name);
                                        }),
                         values.end());
            continue;
        }
        if (!ParseData(data, &value)) continue;
        if (Value* existing = FindValue(*current, value.name)) {
            *existing = value;
        } else {
            current->values.push_back(value);
        }
    }
    return true;
}

std::string SerializeHive(const Hive& hive) {
    std::string out = std::string(kHeader) + "\r\n";
    for (const Key& key : hive.keys) {
        out += "\r\n[" + key.path + "]\r\n";
        for (const Value& value : key.values) {
            out += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" +
                   FormatData(value) + "\r\n";
        }
    }
    return out + "\r\n";
}

bool LoadHive(Hive* hive, DWORD* error) {
    hive->keys.clear();
    const std::string path = HivePath();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    std::string text;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    const bool readOk = !std::ferror(file);
    std::fclose(file);
    if (!readOk) {
        *error = ERROR_READ_FAULT;
        return false;
    }
    if (!ParseHive(text, hive)) {
        *error = ERROR_BADKEY;
        return false;
    }
    return true;
}

bool SaveHive(const Hive& hive, DWORD* error) {
    const std::string path = HivePath();
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = internal::Win32ErrorFromErrno(errno, path);
        return false;
    }
    const std::string text = SerializeHive(hive);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<size_t>(written);
    }
    const bool ok = done == text.size() && fsync(fd) == 0;
    fchmod(fd, 0644);
    close(fd);
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = internal::Win32ErrorFromErrno(errno, path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace platform::registry
