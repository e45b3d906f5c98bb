// The registry over its REGEDIT4 text hive: where the hive is, how it is parsed (escapes,
// default values, dword and hex forms), and the original platform's query results.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "windows.h"

using portrix_test::TempDir;

namespace {

std::string Row(int n) { return "row " + std::to_string(n); }

// Points the layer at a hive of its own for the test's duration.
class ScopedHive {
public:
    explicit ScopedHive(const TempDir& dir) : m_path(dir / "hkcu.reg") {
        const char* previous = std::getenv("PORTRIX_HKCU");
        m_hadPrevious = previous != nullptr;
        if (previous) m_previous = previous;
        setenv("PORTRIX_HKCU", m_path.c_str(), 1);
    }
    ~ScopedHive() {
        if (m_hadPrevious) {
            setenv("PORTRIX_HKCU", m_previous.c_str(), 1);
        } else {
            unsetenv("PORTRIX_HKCU");
        }
    }
    ScopedHive(const ScopedHive&) = delete;
    ScopedHive& operator=(const ScopedHive&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// An open key, closed with RegCloseKey.
class OwnedKey {
public:
    OwnedKey() = default;
    ~OwnedKey() {
        if (m_key) RegCloseKey(m_key);
    }
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;
    PHKEY out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

struct Query {
    LONG result;
    DWORD type;
    DWORD size;
    std::vector<BYTE> data;
};

Query QueryValue(HKEY key, const char* name, DWORD bufferSize) {
    Query q{};
    q.data.assign(bufferSize, 0xEE);
    q.size = bufferSize;
    q.result = RegQueryValueExA(key, name, nullptr, &q.type, q.data.data(), &q.size);
    return q;
}

std::vector<BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

const char kShare[] = "Software\\szDomain\\Share";

TEST(Registry, ParsesTheRegedit4Forms) {
    TempDir dir;
    ScopedHive hive(dir);
    dir.Write("hkcu.reg",
              "REGEDIT4\r\n"
              "\r\n"
              "; a comment\r\n"
              "[HKEY_CURRENT_USER\\Software\\szDomain]\r\n"
              "\"Top\"=\"level\"\r\n"
              "\r\n"
              "[hkey_current_user\\software\\SZDOMAIN\\share]\r\n"
              "\"Path\"=\"C:\\\\App \\\"quoted\\\"\"\r\n"
              "@=\"default value\"\r\n"
              "\"Number\"=dword:0000001f\r\n"
              "\"Binary\"=hex:01,02,ff\r\n"
              "\"Expand\"=hex(2):25,41,25,00\r\n"
              "\"Long\"=hex:01,02,\\\r\n"
              "  03,04\r\n"
              "\"Gone\"=\"x\"\r\n"
              "\"Gone\"=-\r\n"
              "\"Bad\"=dword:xyz\r\n"
              "[HKEY_CURRENT_USER\\Software\\Removed]\r\n"
              "\"a\"=\"b\"\r\n"
              "[-HKEY_CURRENT_USER\\Software\\Removed]\r\n");
    OwnedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\szdomain\\Share", 0, KEY_QUERY_VALUE, key.out()),
              ERROR_SUCCESS);
    struct Case {
        const char* name;
        LONG result;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        /* 1 */ {"Path", ERROR_SUCCESS, REG_SZ, Bytes(std::string("C:\\App \"quoted\"\0", 16))},
        /* 2 */ {"path", ERROR_SUCCESS, REG_SZ, Bytes(std::string("C:\\App \"quoted\"\0", 16))},
        /* 3 */ {nullptr, ERROR_SUCCESS, REG_SZ, Bytes(std::string("default value\0", 14))},
        /* 4 */ {"", ERROR_SUCCESS, REG_SZ, Bytes(std::string("default value\0", 14))},
        /* 5 */ {"Number", ERROR_SUCCESS, REG_DWORD, {0x1f, 0, 0, 0}},
        /* 6 */ {"Binary", ERROR_SUCCESS, REG_BINARY, {1, 2, 0xff}},
        /* 7 */ {"Expand", ERROR_SUCCESS, REG_EXPAND_SZ, Bytes(std::string("%A%\0", 4))},
        /* 8 */ {"Long", ERROR_SUCCESS, REG_BINARY, {1, 2, 3, 4}},
        /* 9 */ {"Gone", ERROR_FILE_NOT_FOUND, 0, {}},
        /* 10 */ {"Bad", ERROR_FILE_NOT_FOUND, 0, {}},
        /* 11 */ {"Top", ERROR_FILE_NOT_FOUND, 0, {}},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        const Query q = QueryValue(key.get(), c.name, 64);
        EXPECT_EQ(q.result, c.result) << Row(row);
        if (c.result != ERROR_SUCCESS) continue;
        EXPECT_EQ(q.type, c.type) << Row(row);
        EXPECT_EQ(q.size, c.data.size()) << Row(row);
        EXPECT_EQ(std::vector<BYTE>(q.data.begin(), q.data.begin() + q.size), c.data) << Row(row);
    }
    OwnedKey removed;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Removed", 0, KEY_QUERY_VALUE, removed.out()),
              ERROR_FILE_NOT_FOUND);
}

TEST(Registry, OpeningKeys) {
    TempDir dir;
    ScopedHive hive(dir);
    struct Case {
        const char* hiveText;  // null: no hive file
        const char* subKey;
        LONG result;
    } cases[] = {
        /* 1 */ {nullptr, kShare, ERROR_FILE_NOT_FOUND},
        /* 2 */ {"REGEDIT4\r\n", kShare, ERROR_FILE_NOT_FOUND},
        /* 3 */ {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n", kShare, ERROR_SUCCESS},
        /* 4 */ {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n", "software\\SZDOMAIN",
                 ERROR_SUCCESS},
        /* 5 */ {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n", "Software\\szDom",
                 ERROR_FILE_NOT_FOUND},
        /* 6 */ {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\szDomain]\r\n", kShare, ERROR_FILE_NOT_FOUND},
        /* 7 */ {"not a hive\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n", kShare, ERROR_BADKEY},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        std::remove(hive.path().c_str());
        if (c.hiveText) dir.Write("hkcu.reg", c.hiveText);
        OwnedKey key;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, c.subKey, 0, KEY_QUERY_VALUE, key.out()), c.result)
            << Row(row);
        EXPECT_EQ(key.get() != nullptr, c.result == ERROR_SUCCESS) << Row(row);
    }
    OwnedKey other;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_QUERY_VALUE, other.out()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(&row)), ERROR_INVALID_HANDLE);
}

TEST(Registry, QuerySizes) {
    TempDir dir;
    ScopedHive hive(dir);
    const std::string path511(511, 'p');
    const std::string path512(512, 'p');
    dir.Write("hkcu.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n\"P511\"=\"" +
                              path511 + "\"\r\n\"P512\"=\"" + path512 + "\"\r\n");
    OwnedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShare, 0, KEY_QUERY_VALUE, key.out()), ERROR_SUCCESS);
    struct Case {
        const char* name;
        DWORD bufferSize;
        LONG result;
        DWORD size;
    } cases[] = {
        /* 1 */ {"P511", 512, ERROR_SUCCESS, 512},
        /* 2 */ {"P512", 512, ERROR_MORE_DATA, 513},
        /* 3 */ {"P511", 511, ERROR_MORE_DATA, 512},
        /* 4 */ {"P512", 1024, ERROR_SUCCESS, 513},
        /* 5 */ {"Missing", 512, ERROR_FILE_NOT_FOUND, 512},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        const Query q = QueryValue(key.get(), c.name, c.bufferSize);
        EXPECT_EQ(q.result, c.result) << Row(row);
        EXPECT_EQ(q.size, c.size) << Row(row);
        if (c.result == ERROR_SUCCESS) {
            EXPECT_EQ(q.data[q.size - 1], 0) << Row(row);
        }
    }
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "P512", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 513u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    BYTE buffer[4];
    EXPECT_EQ(RegQueryValueExA(key.get(), "P511", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);

    OwnedKey writeOnly;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShare, 0, KEY_SET_VALUE, writeOnly.out()), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(writeOnly.get(), "P511", 512).result, ERROR_ACCESS_DENIED);
}

TEST(Registry, WritesGoThroughTheFileAndReadBack) {
    TempDir dir;
    ScopedHive hive(dir);
    dir.Write("hkcu.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"Kept\"=\"yes\"\r\n");
    OwnedKey key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kShare, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    const char path[] = "/opt/app \"x\" \\y";
    ASSERT_EQ(RegSetValueExA(key.get(), "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof(path)),
              ERROR_SUCCESS);
    const BYTE number[4] = {1, 0, 0, 0};
    ASSERT_EQ(RegSetValueExA(key.get(), "N", 0, REG_DWORD, number, 4), ERROR_SUCCESS);

    // Another open reads the file afresh.
    OwnedKey reader;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShare, 0, KEY_READ, reader.out()), ERROR_SUCCESS);
    const Query q = QueryValue(reader.get(), "Path", 512);
    ASSERT_EQ(q.result, ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<const char*>(q.data.data()), path);
    EXPECT_EQ(QueryValue(reader.get(), "N", 4).data, std::vector<BYTE>(number, number + 4));

    const std::string text = dir.Read("hkcu.reg");
    EXPECT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_NE(text.find("\"Path\"=\"/opt/app \\\"x\\\" \\\\y\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Kept\"=\"yes\""), std::string::npos) << text;

    OwnedKey again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\szdomain\\SHARE", 0, nullptr, 0, KEY_READ,
                              nullptr, again.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegDeleteValueA(key.get(), "N"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key.get(), "N"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, HiveLocation) {
    TempDir dir;
    const char* savedHive = std::getenv("PORTRIX_HKCU");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string hive = savedHive ? savedHive : "", config = savedConfig ? savedConfig : "",
                      home = savedHome ? savedHome : "";
    unsetenv("PORTRIX_HKCU");
    struct Case {
        const char* config;  // XDG_CONFIG_HOME, or null for unset
        std::string expectedFile;
    } cases[] = {
        /* 1 */ {"xdg", "xdg/portrix/hkcu.reg"},
        /* 2 */ {nullptr, "home/.config/portrix/hkcu.reg"},
        /* 3 */ {"", "home/.config/portrix/hkcu.reg"},
    };
    setenv("HOME", (dir / "home").c_str(), 1);
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        if (c.config) {
            setenv("XDG_CONFIG_HOME", c.config[0] ? (dir / c.config).c_str() : "", 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        OwnedKey key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kShare, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.out(), nullptr),
                  ERROR_SUCCESS)
            << Row(row);
        EXPECT_TRUE(dir.Exists(c.expectedFile)) << Row(row);
        std::remove((dir / c.expectedFile).c_str());
    }
    auto restore = [](const char* name, const char* saved, const std::string& value) {
        if (saved) {
            setenv(name, value.c_str(), 1);
        } else {
            unsetenv(name);
        }
    };
    restore("PORTRIX_HKCU", savedHive, hive);
    restore("XDG_CONFIG_HOME", savedConfig, config);
    restore("HOME", savedHome, home);
}

}  // namespace
