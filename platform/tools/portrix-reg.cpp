// portrix-reg: reads and changes the current user's registry hive of the Portrix platform
// layer, so that a user can point the library at an install path and see what it will read.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry_hive.h"
#include "windows.h"

namespace {

const char kUsage[] =
    "usage: portrix-reg get KEY NAME                print the data of one value\n"
    "       portrix-reg list KEY                    print KEY's sub-keys, then its values\n"
    "       portrix-reg set KEY NAME VALUE          store VALUE as a string (REG_SZ)\n"
    "       portrix-reg set KEY NAME --dword N      store N as a number (REG_DWORD)\n"
    "       portrix-reg delete KEY NAME             remove a value\n"
    "       portrix-reg path                        print where the hive is\n"
    "       (show KEY [NAME] is list or get, as before)\n"
    "\n"
    "KEY is a key of the current user, written in full, e.g.\n"
    "  \"HKEY_CURRENT_USER\\Software\\szDomain\\Share\" (HKCU\\... works too).\n"
    "NAME @ stands for the key's default value.\n"
    "\n"
    "The hive is a REGEDIT4 text file: $PORTRIX_HKCU when set, else\n"
    "$XDG_CONFIG_HOME/portrix/hkcu.reg, else ~/.config/portrix/hkcu.reg.\n"
    "\n"
    "Example: portrix-reg set \"HKEY_CURRENT_USER\\Software\\szDomain\\Share\" Path /opt/app\n";

constexpr int kFailed = 1;
constexpr int kMisused = 2;

int Misused(const std::string& message) {
    std::fprintf(stderr, "portrix-reg: %s\n(portrix-reg --help tells how it is used)\n",
                 message.c_str());
    return kMisused;
}

// A command line's key: its full name, and the part below HKEY_CURRENT_USER.
struct KeyArgument {
    std::string text;
    std::string subKey;
};

bool ParseKey(const std::string& text, KeyArgument* key) {
    for (const char* root : {"HKEY_CURRENT_USER", "HKCU"}) {
        const size_t length = std::strlen(root);
        if (text.size() >= length && strncasecmp(text.c_str(), root, length) == 0 &&
            (text.size() == length || text[length] == '\\' || text[length] == '/')) {
            key->subKey = text.size() == length ? "" : text.substr(length + 1);
            key->text = "HKEY_CURRENT_USER" + (key->subKey.empty() ? "" : "\\" + key->subKey);
            return true;
        }
    }
    return false;
}

const char* ValueName(const std::string& name) {
    return name == "@" ? "" : name.c_str();
}

// The original platform's words for the other results a registry call can give here.
std::string SystemMessage(LONG result) {
    switch (result) {
        case ERROR_FILE_NOT_FOUND:
            return "the system cannot find the file specified";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "the system cannot open the file: too many files are open";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "not enough memory resources are available to process this command";
        case ERROR_WRITE_FAULT:
            return "the system cannot write to the specified device";
        case ERROR_READ_FAULT:
            return "the system cannot read from or write to the device that holds it";
        case ERROR_SHARING_VIOLATION:
            return "the file is being used by another process";
        case ERROR_ALREADY_EXISTS:
            return "a file of that name already exists";
        case ERROR_FILENAME_EXCED_RANGE:
            return "the file name is too long";
        default:
            return "the system could not do it (code " + std::to_string(result) + ")";
    }
}

// Why a registry call failed, as a sentence: what the hive file says first, then the result.
std::string Why(LONG result) {
    const std::string hive = platform::RegistryHivePath();
    const std::string problem = platform::RegistryHiveProblem();
    if (!problem.empty()) return problem;
    switch (result) {
        case ERROR_ACCESS_DENIED:
            return "permission to write the hive " + hive + " is denied";
        case ERROR_DISK_FULL:
            return "the disk that holds the hive " + hive + " is full";
        case ERROR_PATH_NOT_FOUND:
            return "the folder of the hive " + hive + " cannot be made";
        case ERROR_FILE_TOO_LARGE:
            return "the hive " + hive + " would grow larger than " +
                   std::to_string(platform::kMaxRegistryHiveBytes >> 20) +
                   " MiB, the most a hive may hold";
        case ERROR_INVALID_PARAMETER:
            return "a key or value name cannot hold a line break";
        case ERROR_LOCK_VIOLATION:
            return "another process kept the folder of the hive " + hive +
                   " locked for a change of its own longer than a change takes; try again";
        default:
            return "the hive " + hive + " cannot be used: " + SystemMessage(result);
    }
}

int Failed(const std::string& message) {
    std::fprintf(stderr, "portrix-reg: %s\n", message.c_str());
    return kFailed;
}

int FailedToOpen(const KeyArgument& key, LONG result) {
    if (result == ERROR_FILE_NOT_FOUND) {
        return Failed("no key " + key.text + " in the hive " + platform::RegistryHivePath());
    }
    return Failed(Why(result));
}

// An open key, closed when it goes.
class OpenedKey {
public:
    ~OpenedKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    PHKEY out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::string DataText(DWORD type, const std::vector<BYTE>& data) {
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty()) {
        const auto* text = reinterpret_cast<const char*>(data.data());
        return std::string(text, strnlen(text, data.size()));
    }
    if (type == REG_DWORD && data.size() == 4) {
        const DWORD number =
            data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24);
        return std::to_string(number);
    }
    std::string hex;
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof(byte), i ? ",%02x" : "%02x", data[i]);
        hex += byte;
    }
    return hex;
}

std::string TypeText(DWORD type) {
    switch (type) {
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        default:
            return "type " + std::to_string(type);
    }
}

void PrintValueLine(const char* name, DWORD type, const std::vector<BYTE>& data) {
    std::string shown = DataText(type, data);
    if (type == REG_DWORD && data.size() == 4) {
        char hex[16];
        std::snprintf(hex, sizeof(hex), " (0x%08x)", static_cast<unsigned>(std::stoul(shown)));
        shown += hex;
    }
    std::printf("%s\t%s\t%s\n", *name == '\0' ? "@" : name, TypeText(type).c_str(), shown.c_str());
}

int Get(const KeyArgument& keyArgument, const std::string& name) {
    OpenedKey key;
    LONG result =
        RegOpenKeyExA(HKEY_CURRENT_USER, keyArgument.subKey.c_str(), 0, KEY_QUERY_VALUE, key.out());
    if (result != ERROR_SUCCESS) return FailedToOpen(keyArgument, result);
    DWORD type = 0, size = 0;
    result = RegQueryValueExA(key.get(), ValueName(name), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key.get(), ValueName(name), nullptr, &type, data.data(), &size);
    }
    if (result == ERROR_FILE_NOT_FOUND) {
        return Failed("no value " + name + " in the key " + keyArgument.text + " of the hive " +
                      platform::RegistryHivePath());
    }
    if (result != ERROR_SUCCESS) return Failed(Why(result));
    std::printf("%s\n", DataText(type, data).c_str());
    return 0;
}

int List(const KeyArgument& keyArgument) {
    OpenedKey key;
    const LONG result =
        RegOpenKeyExA(HKEY_CURRENT_USER, keyArgument.subKey.c_str(), 0, KEY_READ, key.out());
    if (result != ERROR_SUCCESS) return FailedToOpen(keyArgument, result);
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        std::printf("%s\\\n", name);
    }
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameSize = sizeof(name), type = 0, size = 0;
        if (RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameSize = sizeof(name);
        RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, data.data(), &size);
        PrintValueLine(name, type, data);
    }
    return 0;
}

int Set(const KeyArgument& keyArgument, const std::string& name,
        const std::vector<std::string>& data) {
    std::vector<BYTE> bytes;
    DWORD type = REG_SZ;
    if (data.size() == 2) {
        if (data[0] != "--dword") return Misused("set takes VALUE, or --dword N");
        char* end = nullptr;
        const unsigned long long number = std::strtoull(data[1].c_str(), &end, 0);
        if (data[1].empty() || *end != '\0' || data[1][0] == '-' || number > 0xFFFFFFFFull) {
            return Misused("not a 32-bit number: " + data[1]);
        }
        type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<BYTE>(number >> shift));
    } else {
        bytes.assign(data[0].begin(), data[0].end());
        bytes.push_back(0);
    }
    OpenedKey key;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, keyArgument.subKey.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(key.get(), ValueName(name), 0, type, bytes.data(),
                                static_cast<DWORD>(bytes.size()));
    }
    return result == ERROR_SUCCESS ? 0 : Failed(Why(result));
}

int Delete(const KeyArgument& keyArgument, const std::string& name) {
    OpenedKey key;
    LONG result =
        RegOpenKeyExA(HKEY_CURRENT_USER, keyArgument.subKey.c_str(), 0, KEY_SET_VALUE, key.out());
    if (result != ERROR_SUCCESS) return FailedToOpen(keyArgument, result);
    result = RegDeleteValueA(key.get(), ValueName(name));
    if (result == ERROR_FILE_NOT_FOUND) {
        return Failed("no value " + name + " in the key " + keyArgument.text + " of the hive " +
                      platform::RegistryHivePath());
    }
    return result == ERROR_SUCCESS ? 0 : Failed(Why(result));
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string command = args.empty() ? "" : args[0];
    const size_t operands = args.empty() ? 0 : args.size() - 1;
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command.empty()) {
        std::fputs(kUsage, stderr);
        return kMisused;
    }
    if (command == "path") {
        if (operands != 0) return Misused("path takes nothing more");
        std::printf("%s\n", platform::RegistryHivePath().c_str());
        return 0;
    }
    struct Form {
        const char* command;
        size_t least;
        size_t most;
        const char* operands;
    };
    static constexpr Form kForms[] = {
        {"get", 2, 2, "KEY NAME"},    {"list", 1, 1, "KEY"},
        {"show", 1, 2, "KEY [NAME]"}, {"set", 3, 4, "KEY NAME VALUE, or KEY NAME --dword N"},
        {"delete", 2, 2, "KEY NAME"},
    };
    const Form* form = nullptr;
    for (const Form& candidate : kForms) {
        if (command == candidate.command) form = &candidate;
    }
    if (form == nullptr) return Misused("unknown command '" + command + "'");
    if (operands < form->least || operands > form->most) {
        return Misused(command + " needs " + form->operands);
    }
    KeyArgument key;
    if (!ParseKey(args[1], &key)) {
        return Misused("only keys of HKEY_CURRENT_USER are kept, not " + args[1]);
    }
    if (command == "get" || (command == "show" && operands == 2)) return Get(key, args[2]);
    if (command == "list" || command == "show") return List(key);
    if (command == "set")
        return Set(key, args[2], std::vector<std::string>(args.begin() + 3, args.end()));
    return Delete(key, args[2]);
}
