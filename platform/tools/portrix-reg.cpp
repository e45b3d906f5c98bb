// portrix-reg: sets and shows values in the current user's registry hive of the Portrix
// platform layer, so that a user can point the library at an install path.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "windows.h"

namespace {

const char kUsage[] =
    "usage: portrix-reg set KEY NAME VALUE        store VALUE as a string (REG_SZ)\n"
    "       portrix-reg set KEY NAME --dword N    store N as a number (REG_DWORD)\n"
    "       portrix-reg delete KEY NAME           remove a value\n"
    "       portrix-reg show KEY [NAME]           print one value, or every value of KEY\n"
    "       portrix-reg path                      print where the hive is\n"
    "\n"
    "KEY is a key of the current user, written in full, e.g.\n"
    "  \"HKEY_CURRENT_USER\\Software\\szDomain\\Share\" (HKCU\\... works too).\n"
    "NAME @ stands for the key's default value.\n"
    "\n"
    "The hive is a REGEDIT4 text file: $PORTRIX_HKCU when set, else\n"
    "$XDG_CONFIG_HOME/portrix/hkcu.reg, else ~/.config/portrix/hkcu.reg.\n"
    "\n"
    "Example: portrix-reg set \"HKEY_CURRENT_USER\\Software\\szDomain\\Share\" Path /opt/app\n";

// The part of KEY below HKEY_CURRENT_USER, or false when KEY names another root.
bool SubKeyOf(const std::string& key, std::string* subKey) {
    for (const char* root : {"HKEY_CURRENT_USER", "HKCU"}) {
        const size_t length = std::strlen(root);
        if (key.size() >= length && strncasecmp(key.c_str(), root, length) == 0 &&
            (key.size() == length || key[length] == '\\' || key[length] == '/')) {
            *subKey = key.size() == length ? "" : key.substr(length + 1);
            return true;
        }
    }
    return false;
}

const char* ValueName(const char* name) { return std::strcmp(name, "@") == 0 ? "" : name; }

void PrintValue(const char* name, DWORD type, const std::vector<BYTE>& data) {
    const char* shown = *name == '\0' ? "@" : name;
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty()) {
        std::printf("%s\t%s\t%.*s\n", shown, type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ",
                    static_cast<int>(strnlen(reinterpret_cast<const char*>(data.data()), data.size())),
                    reinterpret_cast<const char*>(data.data()));
    } else if (type == REG_DWORD && data.size() == 4) {
        const DWORD number = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24);
        std::printf("%s\tREG_DWORD\t%u (0x%08x)\n", shown, number, number);
    } else {
        std::printf("%s\ttype %u\t", shown, type);
        for (size_t i = 0; i < data.size(); ++i) std::printf(i ? ",%02x" : "%02x", data[i]);
        std::printf("\n");
    }
}

int Fail(const char* what, const std::string& key, LONG result) {
    std::fprintf(stderr, "portrix-reg: %s %s: error %d\n", what, key.c_str(), static_cast<int>(result));
    return 1;
}

int Show(const std::string& keyName, const std::string& subKey, const char* name) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS) return Fail("cannot open", keyName, result);
    int status = 0;
    if (name != nullptr) {
        DWORD type = 0, size = 0;
        result = RegQueryValueExA(key, ValueName(name), nullptr, &type, nullptr, &size);
        std::vector<BYTE> data(size);
        if (result == ERROR_SUCCESS) {
            result = RegQueryValueExA(key, ValueName(name), nullptr, &type, data.data(), &size);
        }
        if (result == ERROR_SUCCESS) {
            PrintValue(ValueName(name), type, data);
        } else {
            status = Fail("cannot read", keyName + "\\" + name, result);
        }
    } else {
        for (DWORD index = 0;; ++index) {
            char valueName[16384];
            DWORD nameSize = sizeof(valueName), type = 0, size = 0;
            result = RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type, nullptr, &size);
            if (result != ERROR_SUCCESS) break;
            std::vector<BYTE> data(size);
            nameSize = sizeof(valueName);
            RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type, data.data(), &size);
            PrintValue(valueName, type, data);
        }
    }
    RegCloseKey(key);
    return status;
}

int Set(const std::string& keyName, const std::string& subKey, int argc, char** argv) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return Fail("cannot create", keyName, result);
    const char* name = ValueName(argv[3]);
    if (argc == 6 && std::strcmp(argv[4], "--dword") == 0) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(argv[5], &end, 0);
        if (end == argv[5] || *end != '\0' || number > 0xFFFFFFFFul) {
            std::fprintf(stderr, "portrix-reg: not a 32-bit number: %s\n", argv[5]);
            RegCloseKey(key);
            return 2;
        }
        const DWORD value = static_cast<DWORD>(number);
        const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                               static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
        result = RegSetValueExA(key, name, 0, REG_DWORD, bytes, sizeof(bytes));
    } else {
        const char* text = argv[4];
        result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(std::strlen(text) + 1));
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : Fail("cannot write", keyName, result);
}

int Delete(const std::string& keyName, const std::string& subKey, const char* name) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_SET_VALUE, &key);
    if (result != ERROR_SUCCESS) return Fail("cannot open", keyName, result);
    result = RegDeleteValueA(key, ValueName(name));
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : Fail("cannot delete", keyName + "\\" + name, result);
}

std::string HiveLocation() {
    if (const char* path = std::getenv("PORTRIX_HKCU"); path && *path) return path;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return std::string(config) + "/portrix/hkcu.reg";
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "~") + "/.config/portrix/hkcu.reg";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "path" && argc == 2) {
        std::printf("%s\n", HiveLocation().c_str());
        return 0;
    }
    std::string subKey;
    const bool known = (command == "set" && (argc == 5 || argc == 6)) ||
                       (command == "show" && (argc == 3 || argc == 4)) ||
                       (command == "delete" && argc == 4);
    if (!known) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string keyName = argv[2];
    if (!SubKeyOf(keyName, &subKey)) {
        std::fprintf(stderr, "portrix-reg: only keys of HKEY_CURRENT_USER are kept: %s\n", argv[2]);
        return 2;
    }
    if (command == "set") return Set(keyName, subKey, argc, argv);
    if (command == "delete") return Delete(keyName, subKey, argv[3]);
    return Show(keyName, subKey, argc == 4 ? argv[3] : nullptr);
}
