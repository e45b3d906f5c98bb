// The hive's text: parsing and writing REGEDIT4 (and reading version 5).
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <list>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/path.h"
#include "registry/hive.h"
#include "winreg.h"

namespace platform::registry {
namespace {

constexpr char kHeader[] = "REGEDIT4";
constexpr char kHeaderVersion5[] = "Windows Registry Editor Version 5.00";
constexpr char kCurrentUser[] = "HKEY_CURRENT_USER";
constexpr const char* kRoots[] = {kCurrentUser, "HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Letters folded to upper case: the key under which a name is looked up.
std::string Folded(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// Hands out the lines of a text one by one; CR LF, LF and a lone CR each end a line.
class LineReader {
public:
    explicit LineReader(std::string_view text) : m_text(text) {}
    bool Next(std::string_view* line) {
        if (m_pos >= m_text.size()) return false;
        const size_t end = m_text.find_first_of("\r\n", m_pos);
        if (end == std::string_view::npos) {
            *line = m_text.substr(m_pos);
            m_pos = m_text.size();
            return true;
        }
        *line = m_text.substr(m_pos, end - m_pos);
        m_pos =
            end +
            ((m_text[end] == '\r' && end + 1 < m_text.size() && m_text[end + 1] == '\n') ? 2 : 1);
        return true;
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

// UTF-16LE to UTF-8; a unit that is not part of a character becomes '?', as the original
// platform's conversion to an ANSI code page does with what it cannot map.
std::string Utf8FromUtf16Le(std::string_view bytes) {
    std::string out;
    iconv_t converter = iconv_open("UTF-8", "UTF-16LE");
    if (converter == reinterpret_cast<iconv_t>(-1)) return out;
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size() & ~size_t(1);
    char buffer[4096];
    while (inLeft > 0) {
        char* outPos = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t result = iconv(converter, &in, &inLeft, &outPos, &outLeft);
        out.append(buffer, static_cast<size_t>(outPos - buffer));
        if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
        out += '?';  // EILSEQ, or EINVAL: a high surrogate at the very end
        in += 2;
        inLeft -= 2;
    }
    iconv_close(converter);
    return out;
}

// Reads a quoted string starting at text[pos] == '"' with \\ and \" escapes; pos ends after
// the closing quote. FALSE when it is not closed.
bool ParseQuoted(std::string_view text, size_t& pos, std::string* out) {
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

bool ParseHexBytes(std::string_view list, std::vector<BYTE>* bytes) {
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

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Parses the data after '='; FALSE when it is not one of the REGEDIT4 forms. Version 5 keeps
// the strings of its hex forms in UTF-16LE.
bool ParseData(std::string_view data, bool version5, Value* value) {
    if (!data.empty() && data[0] == '"') {
        size_t pos = 0;
        std::string text;
        if (!ParseQuoted(data, pos, &text) || !Trim(data.substr(pos)).empty()) return false;
        value->type = REG_SZ;
        value->data.assign(text.begin(), text.end());
        value->data.push_back(0);
        return true;
    }
    if (data.substr(0, 6) == "dword:") {
        const std::string_view digits = Trim(data.substr(6));
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
    if (data.substr(0, 4) == "hex:") {
        value->type = REG_BINARY;
        return ParseHexBytes(data.substr(4), &value->data);
    }
    if (data.substr(0, 4) != "hex(") return false;
    const size_t close = data.find("):", 4);
    if (close == std::string_view::npos || close == 4 || close - 4 > 8) return false;
    DWORD type = 0;
    for (size_t i = 4; i < close; ++i) {
        if (HexDigit(data[i]) < 0) return false;
        type = type * 16 + static_cast<DWORD>(HexDigit(data[i]));
    }
    value->type = type;
    if (!ParseHexBytes(data.substr(close + 2), &value->data)) return false;
    if (version5 && IsStringType(type) && value->data.size() % 2 == 0) {
        const std::string text = Utf8FromUtf16Le(std::string_view(
            reinterpret_cast<const char*>(value->data.data()), value->data.size()));
        value->data.assign(text.begin(), text.end());
    }
    return true;
}

bool IsPlainString(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
    return std::none_of(value.data.begin(), value.data.end() - 1,
                        [](BYTE b) { return b == 0 || b == '\r' || b == '\n'; });
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
    if (value.data.empty()) return out;
    static constexpr char kDigits[] = "0123456789abcdef";
    size_t at = out.size();
    out.resize(at + value.data.size() * 3 - 1, ',');
    for (BYTE byte : value.data) {
        out[at] = kDigits[byte >> 4];
        out[at + 1] = kDigits[byte & 0xF];
        at += 3;
    }
    return out;
}

bool IsUnder(const std::string& name, const std::string& ancestor) {
    return name.size() > ancestor.size() && name[ancestor.size()] == '\\' &&
           NamesEqualNoCase(name.substr(0, ancestor.size()), ancestor);
}

// A key below one of the registry's roots (or a root itself): what a section may name.
bool IsUnderARoot(const std::string& canonical) {
    const std::string first = canonical.substr(0, canonical.find('\\'));
    return std::any_of(std::begin(kRoots), std::end(kRoots),
                       [&](const char* root) { return NamesEqualNoCase(first, root); });
}

// A key while the text is read. Values past a handful are found through an index of their
// places (hashed by name without regard to case, so that no name is copied), and removed ones
// leave an empty place until the end, so that neither grows with the square of a key's values.
class PendingKey {
public:
    explicit PendingKey(std::string path) : m_path(std::move(path)) {}
    PendingKey(const PendingKey&) = delete;  // the index refers to this object
    PendingKey& operator=(const PendingKey&) = delete;

    void Set(Value value) {
        const size_t at = Find(value.name);
        if (at != kNone) {
            m_values[at] = std::move(value);
            return;
        }
        m_values.emplace_back(std::move(value));
        if (!m_index.empty()) {
            m_index.insert(m_values.size() - 1);
        } else if (m_values.size() > kLinearSearchLimit) {
            for (size_t i = 0; i < m_values.size(); ++i) {
                if (m_values[i]) m_index.insert(i);
            }
        }
    }
    void Remove(const std::string& name) {
        const size_t at = Find(name);
        if (at == kNone) return;
        m_index.erase(at);
        m_values[at].reset();
    }
    Key Finish() {
        Key key{std::move(m_path), {}};
        key.values.reserve(m_values.size());
        for (auto& value : m_values) {
            if (value) key.values.push_back(std::move(*value));
        }
        return key;
    }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    static constexpr size_t kProbe = kNone - 1;  // the place that stands for a name looked up
    static constexpr size_t kLinearSearchLimit = 16;

    const std::string& NameAt(size_t at) const {
        return at == kProbe ? *m_probe : m_values[at]->name;
    }

    struct NameHash {
        const PendingKey* key;
        size_t operator()(size_t at) const {
            size_t hash = 14695981039346656037ull;  // FNV-1a over the folded name
            for (char c : key->NameAt(at)) {
                hash =
                    (hash ^ static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c)) *
                    1099511628211ull;
            }
            return hash;
        }
    };
    struct NameEqual {
        const PendingKey* key;
        bool operator()(size_t a, size_t b) const {
            return NamesEqualNoCase(key->NameAt(a), key->NameAt(b));
        }
    };

    size_t Find(const std::string& name) const {
        if (!m_index.empty()) {
            m_probe = &name;
            const auto it = m_index.find(kProbe);
            return it == m_index.end() ? kNone : *it;
        }
        for (size_t i = 0; i < m_values.size(); ++i) {
            if (m_values[i] && NamesEqualNoCase(m_values[i]->name, name)) return i;
        }
        return kNone;
    }

    std::string m_path;
    std::vector<std::optional<Value>> m_values;
    mutable const std::string* m_probe = nullptr;
    std::unordered_set<size_t, NameHash, NameEqual> m_index{0, NameHash{this}, NameEqual{this}};
};

// The keys while the text is read, in file order, found by folded name. The names are kept
// sorted, so that the keys below one are found together when a deletion line removes a tree.
class PendingHive {
public:
    PendingKey& Section(const std::string& canonical) {
        const std::string folded = Folded(canonical);
        auto found = m_byName.find(folded);
        if (found == m_byName.end()) {
            m_keys.emplace_back(canonical);
            found = m_byName.emplace(folded, std::prev(m_keys.end())).first;
        }
        return *found->second;
    }
    void RemoveTree(const std::string& canonical) {
        const std::string folded = Folded(canonical);
        if (auto exact = m_byName.find(folded); exact != m_byName.end()) Erase(exact);
        const std::string prefix = folded + '\\';
        auto it = m_byName.lower_bound(prefix);
        while (it != m_byName.end() && it->first.compare(0, prefix.size(), prefix) == 0)
            it = Erase(it);
    }
    void Finish(Hive* hive) {
        hive->keys.reserve(m_keys.size());
        for (PendingKey& key : m_keys) hive->keys.push_back(key.Finish());
    }

private:
    using Keys = std::list<PendingKey>;
    using ByName = std::map<std::string, Keys::iterator>;

    ByName::iterator Erase(ByName::iterator entry) {
        m_keys.erase(entry->second);
        return m_byName.erase(entry);
    }

    Keys m_keys;
    ByName m_byName;
};

// The hive's text in the layer's code page: the bytes themselves, or their conversion from
// UTF-16LE held in *converted. FALSE with *problem for text that is not read.
bool DecodeText(std::string_view bytes, std::string* converted, std::string_view* text,
                std::string* problem) {
    if (bytes.substr(0, 2) == kUtf16LeMark) {
        *converted = Utf8FromUtf16Le(bytes.substr(2));
        *text = *converted;
        return true;
    }
    if (bytes.substr(0, 2) == kUtf16BeMark) {
        *problem = "it is UTF-16 big-endian, which is not read; save it as UTF-16LE or REGEDIT4";
        return false;
    }
    *text = bytes.substr(0, 3) == kUtf8Mark ? bytes.substr(3) : bytes;
    return true;
}

}  // namespace

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

const Key* FindKey(const Hive& hive, const std::string& name) {
    const std::string canonical = CanonicalKeyName(name);
    for (const Key& key : hive.keys) {
        if (NamesEqualNoCase(key.path, canonical)) return &key;
    }
    return nullptr;
}

Key* FindKey(Hive& hive, const std::string& name) {
    return const_cast<Key*>(FindKey(static_cast<const Hive&>(hive), name));
}

bool KeyExists(const Hive& hive, const std::string& name) {
    const std::string canonical = CanonicalKeyName(name);
    if (NamesEqualNoCase(canonical, kCurrentUser)) return true;
    for (const Key& key : hive.keys) {
        if (NamesEqualNoCase(key.path, canonical) || IsUnder(key.path, canonical)) return true;
    }
    return false;
}

std::vector<std::string> SubKeyNames(const Hive& hive, const std::string& name) {
    const std::string canonical = CanonicalKeyName(name);
    std::map<std::string, std::string> byFolded;
    for (const Key& key : hive.keys) {
        if (!IsUnder(key.path, canonical)) continue;
        const size_t start = canonical.size() + 1;
        const std::string child = key.path.substr(start, key.path.find('\\', start) - start);
        byFolded.emplace(Folded(child), child);
    }
    std::vector<std::string> names;
    for (auto& entry : byFolded) names.push_back(std::move(entry.second));
    return names;
}

const Value* FindValue(const Key& key, const std::string& name) {
    for (const Value& value : key.values) {
        if (NamesEqualNoCase(value.name, name)) return &value;
    }
    return nullptr;
}

Value* FindValue(Key& key, const std::string& name) {
    return const_cast<Value*>(FindValue(static_cast<const Key&>(key), name));
}

bool IsStorableName(const std::string& name) {
    return name.find_first_of("\r\n") == std::string::npos;
}

bool ParseHive(const std::string& bytes, Hive* hive, std::string* problem) {
    hive->keys.clear();
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    std::string converted;
    std::string_view text;
    if (!DecodeText(bytes, &converted, &text, problem)) return false;

    LineReader lines(text);
    std::string_view line;
    do {
        if (!lines.Next(&line)) return true;  // an empty file is an empty hive
        line = Trim(line);
    } while (line.empty());
    const bool version5 = line == kHeaderVersion5;
    if (line != kHeader && !version5) {
        *problem =
            "it does not begin with \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"";
        return false;
    }

    PendingHive pending;
    PendingKey* current = nullptr;
    while (lines.Next(&line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            current = nullptr;
            const size_t close = line.rfind(']');
            if (close == std::string_view::npos) continue;
            const std::string_view name = line.substr(1, close - 1);
            if (!name.empty() && name[0] == '-') {
                pending.RemoveTree(CanonicalKeyName(std::string(name.substr(1))));
                continue;
            }
            const std::string canonical = CanonicalKeyName(std::string(name));
            if (IsUnderARoot(canonical)) current = &pending.Section(canonical);
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
        const std::string_view data = Trim(line.substr(pos + 1));
        if (data == "-") {
            current->Remove(value.name);
            continue;
        }
        std::string joined;  // a hex list continued over lines ending in a backslash
        if (data.substr(0, 3) == "hex" && !data.empty() && data.back() == '\\') {
            joined = std::string(data.substr(0, data.size() - 1));
            std::string_view next;
            while (lines.Next(&next)) {
                next = Trim(next);
                const bool more = !next.empty() && next.back() == '\\';
                joined += more ? next.substr(0, next.size() - 1) : next;
                if (!more) break;
            }
        }
        if (ParseData(joined.empty() ? data : std::string_view(joined), version5, &value)) {
            current->Set(std::move(value));
        }
    }
    pending.Finish(hive);
    return true;
}

std::string SerializeHive(const Hive& hive) {
    std::string out = std::string(kHeader) + "\r\n";
    for (const Key& key : hive.keys) {
        out += "\r\n[" + key.path + "]\r\n";
        for (const Value& value : key.values) {
            out += value.name.empty() ? std::string("@") : Quote(value.name);
            out += '=';
            out += FormatData(value);
            out += "\r\n";
        }
    }
    return out + "\r\n";
}

}  // namespace platform::registry
