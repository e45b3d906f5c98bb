// Arbitrary bytes as a private-profile file: every section, key and number the reader finds is
// read, then a key is written into a section of its own, and everything read before must read
// the same afterwards while the new key reads back as written.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"
#include "windows.h"

namespace {

constexpr DWORD kListSize = 4096;
constexpr DWORD kValueSize = 512;
constexpr size_t kMostKeysChecked = 16;
constexpr char kWrittenSection[] = "FuzzWrittenSection";

// A file in a folder of its own, made on first use and kept for the whole run.
const std::string& ProfilePath() {
    static const portrix_test::TempDir folder;  // under $TMPDIR, which fuzz/run.sh puts in memory
    static const std::string path = folder / "fuzz.ini";
    return path;
}

std::vector<std::string> NameList(LPCSTR section, const std::string& file) {
    std::vector<char> buffer(kListSize);
    const DWORD length =
        GetPrivateProfileStringA(section, nullptr, "", buffer.data(), kListSize, file.c_str());
    std::vector<std::string> names;
    for (DWORD at = 0; at < length && buffer[at] != '\0';
         at += static_cast<DWORD>(std::strlen(&buffer[at])) + 1) {
        names.emplace_back(&buffer[at]);
    }
    return names;
}

std::string Value(LPCSTR section, LPCSTR key, const std::string& file) {
    char buffer[kValueSize];
    GetPrivateProfileStringA(section, key, "<none>", buffer, kValueSize, file.c_str());
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string& file = ProfilePath();
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(bytes, 1, size, out);
    std::fclose(out);

    std::vector<std::pair<std::pair<std::string, std::string>, std::string>> seen;
    for (const std::string& section : NameList(nullptr, file)) {
        if (section.empty() || strcasecmp(section.c_str(), kWrittenSection) == 0) continue;
        for (const std::string& key : NameList(section.c_str(), file)) {
            if (key.empty() || seen.size() == kMostKeysChecked) continue;
            seen.push_back({{section, key}, Value(section.c_str(), key.c_str(), file)});
            GetPrivateProfileIntA(section.c_str(), key.c_str(), -1, file.c_str());
        }
    }
    if (!WritePrivateProfileStringA(kWrittenSection, "Key", "written value", file.c_str()))
        std::abort();
    if (Value(kWrittenSection, "Key", file) != "written value") std::abort();
    for (const auto& [name, value] : seen) {
        if (Value(name.first.c_str(), name.second.c_str(), file) != value) std::abort();
    }
    return 0;
}
