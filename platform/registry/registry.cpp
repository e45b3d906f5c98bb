// Registry calls over the text hive of registry/hive.h.
//
// An open key is a heap object holding the key's canonical name, the access it was opened
// with and the values found in the hive at that moment. Writes re-read the hive, change it and
// write it back under one lock, and a lock on the hive's folder across processes, so that
// writers do not lose each other's changes.
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/path.h"
#include "registry/hive.h"
#include "winbase.h"
#include "winreg.h"

namespace {

namespace reg = platform::registry;

struct OpenKey {
    std::string name;
    REGSAM access = 0;
    reg::Key snapshot;
    std::vector<std::string> subKeys;  // with KEY_ENUMERATE_SUB_KEYS only
};

std::mutex g_mutex;  // guards g_openKeys and every load-change-save of the hive
std::set<OpenKey*> g_openKeys;

constexpr char kCurrentUser[] = "HKEY_CURRENT_USER";

// The canonical name of the key behind handle, or false for an unknown handle.
bool NameOf(HKEY handle, std::string* name, REGSAM* access) {
    if (handle == HKEY_CURRENT_USER) {
        *name = kCurrentUser;
        if (access) *access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    auto* key = reinterpret_cast<OpenKey*>(handle);
    if (!g_openKeys.count(key)) return false;
    *name = key->name;
    if (access) *access = key->access;
    return true;
}

std::string Join(const std::string& base, LPCSTR subKey) {
    if (subKey == nullptr || *subKey == '\0') return base;
    return reg::CanonicalKeyName(base + "\\" + subKey);
}

// A handle for the key name of hive, which the caller no longer needs: the key's values move
// into the handle's snapshot.
HKEY Register(const std::string& name, REGSAM access, reg::Hive& hive) {
    auto key = std::make_unique<OpenKey>();
    key->name = name;
    key->access = access;
    if (access & KEY_ENUMERATE_SUB_KEYS) key->subKeys = reg::SubKeyNames(hive, name);
    if (reg::Key* found = reg::FindKey(hive, name)) key->snapshot = std::move(*found);
    key->snapshot.path = name;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_openKeys.insert(key.get());
    return reinterpret_cast<HKEY>(key.release());
}

// Calls answer(content) with what an open key answers from: its snapshot (read under the lock,
// not copied), or the hive now for the root handle. needed is the access right the caller's
// question takes; a refused question gives its result without calling answer.
template <typename Answer>
LONG AnswerFrom(HKEY handle, REGSAM needed, Answer answer) {
    if (handle == HKEY_CURRENT_USER) {
        reg::Hive hive;
        DWORD error = 0;
        if (!reg::LoadHive(&hive, &error)) return static_cast<LONG>(error);
        OpenKey root;
        root.subKeys = reg::SubKeyNames(hive, kCurrentUser);
        if (reg::Key* found = reg::FindKey(hive, kCurrentUser)) root.snapshot = std::move(*found);
        return answer(root);
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    auto* key = reinterpret_cast<OpenKey*>(handle);
    if (!g_openKeys.count(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & needed)) return ERROR_ACCESS_DENIED;
    return answer(*key);
}

LONG CopyData(const reg::Value& value, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (type != nullptr) *type = value.type;
    const auto needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (dataSize == nullptr) return ERROR_SUCCESS;
    if (data != nullptr) {
        if (*dataSize < needed) {
            *dataSize = needed;
            return ERROR_MORE_DATA;
        }
        if (needed > 0) std::memcpy(data, value.data.data(), needed);
    }
    *dataSize = needed;
    return ERROR_SUCCESS;
}

// Loads the hive, applies change to it, saves it; the open key's snapshot follows.
template <typename Change>
LONG ChangeHive(HKEY handle, REGSAM needed, Change change) {
    std::string name;
    REGSAM access = 0;
    if (!NameOf(handle, &name, &access)) return ERROR_INVALID_HANDLE;
    if (!(access & needed)) return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(g_mutex);
    reg::Hive hive;
    DWORD error = 0;
    reg::HiveWriteLock otherProcesses;
    if (!otherProcesses.Take(&error)) return static_cast<LONG>(error);
    if (!reg::LoadHive(&hive, &error)) return static_cast<LONG>(error);
    reg::Key* key = reg::FindKey(hive, name);
    if (key == nullptr) {
        hive.keys.push_back(reg::Key{name, {}});
        key = &hive.keys.back();
    }
    const LONG result = change(*key);
    if (result != ERROR_SUCCESS) return result;
    if (!reg::SaveHive(hive, &error)) return static_cast<LONG>(error);
    if (handle != HKEY_CURRENT_USER) reinterpret_cast<OpenKey*>(handle)->snapshot = *key;
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string base;
    if (!NameOf(key, &base, nullptr)) {
        const auto value = reinterpret_cast<ULONG_PTR>(key);
        return (value >= 0x80000000u && value <= 0x80000006u) ? ERROR_FILE_NOT_FOUND
                                                              : ERROR_INVALID_HANDLE;
    }
    const std::string name = Join(base, subKey);
    reg::Hive hive;
    DWORD error = 0;
    if (!reg::LoadHive(&hive, &error)) return static_cast<LONG>(error);
    if (!reg::KeyExists(hive, name)) return ERROR_FILE_NOT_FOUND;
    *result = Register(name, access, hive);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                     DWORD /*options*/, REGSAM access, LPSECURITY_ATTRIBUTES /*security*/,
                     PHKEY result, LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string base;
    if (!NameOf(key, &base, nullptr)) return ERROR_INVALID_HANDLE;
    if (subKey != nullptr && !reg::IsStorableName(subKey)) return ERROR_INVALID_PARAMETER;
    const std::string name = Join(base, subKey);
    reg::Hive hive;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        DWORD error = 0;
        reg::HiveWriteLock otherProcesses;
        if (!otherProcesses.Take(&error)) return static_cast<LONG>(error);
        if (!reg::LoadHive(&hive, &error)) return static_cast<LONG>(error);
        const bool existed = reg::KeyExists(hive, name);
        if (!existed) {
            hive.keys.push_back(reg::Key{name, {}});
            if (!reg::SaveHive(hive, &error)) return static_cast<LONG>(error);
        }
        if (disposition != nullptr) {
            *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        }
    }
    *result = Register(name, access, hive);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
    return AnswerFrom(key, KEY_QUERY_VALUE, [&](const OpenKey& content) -> LONG {
        const reg::Value* value =
            reg::FindValue(content.snapshot, valueName != nullptr ? valueName : "");
        if (value == nullptr) {
            // A size asked for alone is answered with 0; a buffer's size stays as given.
            if (data == nullptr && dataSize != nullptr) *dataSize = 0;
            return ERROR_FILE_NOT_FOUND;
        }
        return CopyData(*value, type, data, dataSize);
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD nameSize, LPDWORD /*reserved*/,
                   LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (valueName == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
    return AnswerFrom(key, KEY_QUERY_VALUE, [&](const OpenKey& content) -> LONG {
        if (index >= content.snapshot.values.size()) return ERROR_NO_MORE_ITEMS;
        const reg::Value& value = content.snapshot.values[index];
        if (*nameSize <= value.name.size()) {
            // The name's size stays as given; the type and the data's size are told all the
            // same, and nothing is copied.
            if (type != nullptr) *type = value.type;
            if (dataSize != nullptr) *dataSize = static_cast<DWORD>(value.data.size());
            return ERROR_MORE_DATA;
        }
        std::memcpy(valueName, value.name.c_str(), value.name.size() + 1);
        *nameSize = static_cast<DWORD>(value.name.size());
        return CopyData(value, type, data, dataSize);
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/,
                   LPSTR keyClass, LPDWORD classSize, LPFILETIME lastWriteTime) {
    if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
    return AnswerFrom(key, KEY_ENUMERATE_SUB_KEYS, [&](const OpenKey& content) -> LONG {
        if (index >= content.subKeys.size()) return ERROR_NO_MORE_ITEMS;
        const std::string& subKey = content.subKeys[index];
        if (*nameSize <= subKey.size()) return ERROR_MORE_DATA;
        std::memcpy(name, subKey.c_str(), subKey.size() + 1);
        *nameSize = static_cast<DWORD>(subKey.size());
        if (keyClass != nullptr && classSize != nullptr && *classSize > 0) keyClass[0] = '\0';
        if (classSize != nullptr) *classSize = 0;
        if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{};
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    reg::Value value;
    value.name = valueName != nullptr ? valueName : "";
    if (!reg::IsStorableName(value.name)) return ERROR_INVALID_PARAMETER;
    value.type = type;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        const auto* text = reinterpret_cast<const char*>(data);
        const size_t length = text != nullptr ? strnlen(text, dataSize) : 0;
        value.data.assign(data, data + length);
        value.data.push_back(0);
    } else if (dataSize > 0) {
        value.data.assign(data, data + dataSize);
    }
    return ChangeHive(key, KEY_SET_VALUE, [&](reg::Key& target) -> LONG {
        if (reg::Value* existing = reg::FindValue(target, value.name)) {
            *existing = value;
        } else {
            target.values.push_back(value);
        }
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    const std::string name = valueName != nullptr ? valueName : "";
    return ChangeHive(key, KEY_SET_VALUE, [&](reg::Key& target) -> LONG {
        for (auto it = target.values.begin(); it != target.values.end(); ++it) {
            if (platform::NamesEqualNoCase(it->name, name)) {
                target.values.erase(it);
                return ERROR_SUCCESS;
            }
        }
        return ERROR_FILE_NOT_FOUND;
    });
}

LONG RegCloseKey(HKEY key) {
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    if (value >= 0x80000000u && value <= 0x80000006u) return ERROR_SUCCESS;
    std::unique_ptr<OpenKey> open;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto* candidate = reinterpret_cast<OpenKey*>(key);
    if (g_openKeys.erase(candidate) == 0) return ERROR_INVALID_HANDLE;
    open.reset(candidate);
    return ERROR_SUCCESS;
}
