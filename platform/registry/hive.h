// The current user's hive as a REGEDIT4 text file: parsing, writing, loading and saving.
// Private to the registry family (and its tests and fuzzers).
#pragma once
#include <string>
#include <vector>

#include "windef.h"

namespace platform::registry {

struct Value {
    std::string name;  // "" for the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;  // REG_SZ and REG_EXPAND_SZ data include their terminator
    bool operator==(const Value& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

struct Key {
    std::string path;  // canonical name, e.g. "HKEY_CURRENT_USER\Software\szDomain\Share"
    std::vector<Value> values;
    bool operator==(const Key& other) const { return path == other.path && values == other.values; }
};

struct Hive {
    std::vector<Key> keys;  // in file order; one entry per key
};

// Parses a hive file's bytes: REGEDIT4, or "Windows Registry Editor Version 5.00" in UTF-8 or
// in UTF-16LE with its byte order mark (converted to UTF-8, the layer's code page, as are the
// UTF-16 strings that version 5 keeps in its hex(1), hex(2) and hex(7) forms). Lines may end
// in CR LF, LF or CR. Sections of one key met twice are merged; "[-key]" and "name"=- remove
// what came before; sections outside the registry's roots are ignored. FALSE with *problem
// (words, without the file's name) when the bytes are not a hive. Time and memory grow in
// proportion to the text.
bool ParseHive(const std::string& bytes, Hive* hive, std::string* problem = nullptr);

// REGEDIT4 text that ParseHive reads back to the same hive: a string that a line cannot hold
// (a line break or NUL in it, or no terminator) goes as hex(1), as the registry editor does.
std::string SerializeHive(const Hive& hive);

// Key names compare without regard to case; "HKCU" stands for "HKEY_CURRENT_USER" and
// separators are normalised, so the result is the key's canonical name.
std::string CanonicalKeyName(const std::string& name);
Key* FindKey(Hive& hive, const std::string& name);
const Key* FindKey(const Hive& hive, const std::string& name);
// A key exists when it, or any key below it, has a section.
bool KeyExists(const Hive& hive, const std::string& name);
// The names of the keys directly below a key (those with a section, and those that only
// lead to one), once each, sorted without regard to case as the original registry lists them.
std::vector<std::string> SubKeyNames(const Hive& hive, const std::string& name);
Value* FindValue(Key& key, const std::string& name);
const Value* FindValue(const Key& key, const std::string& name);

// Whether a key or value name can stand in the file's lines: FALSE for a line break in it.
bool IsStorableName(const std::string& name);

// The file's location (platform/registry_hive.h).
std::string HivePath();

// Reads the hive (a missing file is an empty hive); FALSE with *error (and *problem, words
// naming the file) when it cannot be read, is larger than the limit or is not a hive.
// SaveHive writes REGEDIT4 to a temporary file, flushes it and renames it over the hive,
// creating the folder when needed; a hive larger than the limit is not written.
bool LoadHive(Hive* hive, DWORD* error, std::string* problem = nullptr);
bool SaveHive(const Hive& hive, DWORD* error);

// Held from the load of a change to the rename that saves it, so that writers in different
// processes do not lose each other's changes: a flock() on the hive's folder, made when
// missing (the hive itself is replaced by each save, and a lock on it would guard a file that
// is no longer the hive). Taken within a bounded wait (about 2 s); where the folder cannot be made
// or the lock does not come, Take gives the error for the change to fail with.
class HiveWriteLock {
public:
    HiveWriteLock() = default;
    ~HiveWriteLock();
    HiveWriteLock(const HiveWriteLock&) = delete;
    HiveWriteLock& operator=(const HiveWriteLock&) = delete;
    bool Take(DWORD* error);

private:
    int m_fd = -1;
};

}  // namespace platform::registry
