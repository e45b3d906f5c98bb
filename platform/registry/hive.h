// The current user's hive as a REGEDIT4 text file: its location, parsing and writing.
// Private to the registry family (and its tests).
#pragma once
#include <string>
#include <vector>

#include "windef.h"

namespace platform::registry {

struct Value {
    std::string name;  // "" for the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;  // REG_SZ and REG_EXPAND_SZ data include their terminator
};

struct Key {
    std::string path;  // full name as written, e.g. "HKEY_CURRENT_USER\Software\szDomain\Share"
    std::vector<Value> values;
};

struct Hive {
    std::vector<Key> keys;  // in file order; one entry per key
};

// $PORTRIX_HKCU, else $XDG_CONFIG_HOME/portrix/hkcu.reg, else ~/.config/portrix/hkcu.reg.
std::string HivePath();

// Parses REGEDIT4 text. FALSE when the header is missing (the text is not a hive). Sections of
// one key met twice are merged; "[-key]" and "name"=- remove what came before.
bool ParseHive(const std::string& text, Hive* hive);
std::string SerializeHive(const Hive& hive);

// Key names compare without regard to case; "HKCU" stands for "HKEY_CURRENT_USER" and
// separators are normalised, so the result is the key's canonical name.
std::string CanonicalKeyName(const std::string& name);
Key* FindKey(Hive& hive, const std::string& name);
// A key exists when it, or any key below it, has a section.
bool KeyExists(const Hive& hive, const std::string& name);
Value* FindValue(Key& key, const std::string& name);

// Reads the hive (a missing file is an empty hive); FALSE with *error when it cannot be read
// or is not a hive. SaveHive writes it through a temporary file and a rename, creating the
// folder when needed.
bool LoadHive(Hive* hive, DWORD* error);
bool SaveHive(const Hive& hive, DWORD* error);

}  // namespace platform::registry
