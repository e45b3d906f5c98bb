// Built for Windows: a scenario's hive file (REGEDIT4 text, as the layer reads it on Linux) put
// into a key of its own, which then stands for HKEY_CURRENT_USER in this process
// (RegOverridePredefKey), so that a library loaded afterwards reads the scenario's values with
// the system's own registry calls and the user's real keys stay untouched.
//
// The forms the tests write: [HKEY_CURRENT_USER\...] key lines and "name"=value lines whose
// value is a quoted string (\\ and \" escaped), dword:XXXXXXXX, hex:.. or hex(N):.. bytes.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace portrix_test {

class ScenarioHive {
public:
    // Reads the hive at path (a missing file reads as an empty hive) into a fresh key named after
    // this process and puts it in HKEY_CURRENT_USER's place.
    explicit ScenarioHive(const std::string& path) {
        m_name = "Software\\PortrixTestHives\\" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, m_name.c_str());
        if (RegCreateKeyExA(HKEY_CURRENT_USER, m_name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &m_root, nullptr) != ERROR_SUCCESS) {
            m_root = nullptr;
            return;
        }
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        Import(text);
        m_overridden = RegOverridePredefKey(HKEY_CURRENT_USER, m_root) == ERROR_SUCCESS;
    }
    ~ScenarioHive() {
        if (m_overridden) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (m_key) RegCloseKey(m_key);
        if (m_root) {
            RegCloseKey(m_root);
            RegDeleteTreeA(HKEY_CURRENT_USER, m_name.c_str());
        }
    }
    ScenarioHive(const ScenarioHive&) = delete;
    ScenarioHive& operator=(const ScenarioHive&) = delete;

    bool ok() const { return m_overridden; }

private:
    void Import(const std::string& text) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
                OpenKey(line.substr(1, line.size() - 2));
            } else if (!line.empty() && line.front() == '"' && m_key != nullptr) {
                SetValue(line);
            }
        }
    }

    void OpenKey(const std::string& name) {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
        const std::string prefix = "HKEY_CURRENT_USER\\";
        if (name.compare(0, prefix.size(), prefix) != 0) return;
        RegCreateKeyExA(m_root, name.substr(prefix.size()).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
    }

    // "name"=data
    void SetValue(const std::string& line) {
        size_t at = 1;
        const std::string name = Quoted(line, &at);
        if (at >= line.size() || line[at] != '=') return;
        const std::string data = line.substr(at + 1);
        std::vector<BYTE> bytes;
        DWORD type = REG_SZ;
        if (!data.empty() && data.front() == '"') {
            size_t from = 1;
            const std::string value = Quoted(data, &from);
            bytes.assign(value.begin(), value.end());
            bytes.push_back(0);
        } else if (data.compare(0, 6, "dword:") == 0) {
            type = REG_DWORD;
            const DWORD number = std::strtoul(data.c_str() + 6, nullptr, 16);
            const BYTE* raw = reinterpret_cast<const BYTE*>(&number);
            bytes.assign(raw, raw + sizeof number);
        } else if (data.compare(0, 3, "hex") == 0) {
            size_t colon = data.find(':');
            type = data[3] == '(' ? std::strtoul(data.c_str() + 4, nullptr, 16) : REG_BINARY;
            std::istringstream hex(data.substr(colon + 1));
            std::string byte;
            while (std::getline(hex, byte, ','))
                bytes.push_back(static_cast<BYTE>(std::strtoul(byte.c_str(), nullptr, 16)));
        } else {
            return;
        }
        RegSetValueExA(m_key, name.c_str(), 0, type, bytes.data(),
                       static_cast<DWORD>(bytes.size()));
    }

    // The text of a quoted string starting after its opening quote at *at; *at ends past the
    // closing quote.
    static std::string Quoted(const std::string& text, size_t* at) {
        std::string out;
        size_t i = *at;
        for (; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) ++i;
            out += text[i];
        }
        *at = i + 1;
        return out;
    }

    std::string m_name;
    HKEY m_root = nullptr;
    HKEY m_key = nullptr;
    bool m_overridden = false;
};

}  // namespace portrix_test
