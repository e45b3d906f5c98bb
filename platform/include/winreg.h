// Win32 registry: the current user's hive.
//
// The hive is a text file in the REGEDIT4 format, found as platform/registry_hive.h says
// ($PORTRIX_HKCU, else $XDG_CONFIG_HOME/portrix/hkcu.reg, else ~/.config/portrix/hkcu.reg).
// A version 5 export of the registry editor (UTF-16LE or UTF-8) is read too, its text turned
// into UTF-8. A key exists when its section, or a section of one of its sub-keys, is in the
// file. The file is read when a key is opened: an open key keeps the values it found then.
// Writes (RegSetValueExA, RegCreateKeyExA) rewrite the file at once as REGEDIT4, through a
// temporary file and a rename; every name and value reads back byte for byte.
//
// Results that come from the file: ERROR_BADKEY when it is not a hive, ERROR_FILE_TOO_LARGE
// when it is larger than platform::kMaxRegistryHiveBytes (or a write would make it so),
// ERROR_ACCESS_DENIED or ERROR_READ_FAULT when it cannot be read.
#pragma once
#include "windef.h"

#ifndef ERROR_FILE_TOO_LARGE
#define ERROR_FILE_TOO_LARGE 223L
#endif

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)

typedef DWORD REGSAM;
typedef REGSAM* PREGSAM;

// Access rights
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0xF003Fu

// Options and dispositions
#define REG_OPTION_RESERVED 0x0000u
#define REG_OPTION_NON_VOLATILE 0x0000u
#define REG_OPTION_VOLATILE 0x0001u
#define REG_CREATED_NEW_KEY 0x0001u
#define REG_OPENED_EXISTING_KEY 0x0002u

// Value types
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u

// Only HKEY_CURRENT_USER (and keys below it) can be opened: the other roots give
// ERROR_FILE_NOT_FOUND. A missing key gives ERROR_FILE_NOT_FOUND.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
// Creates the key (and its parents) when missing; *disposition tells which happened. A name
// holding a line break (CR or LF) is refused with ERROR_INVALID_PARAMETER.
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
// Null or "" names the key's default value. ERROR_FILE_NOT_FOUND when the value is missing (a
// size asked for without a buffer is then 0; *type stays as it was, where the original leaves
// something undefined); ERROR_MORE_DATA (with *dataSize set to the size needed) when the data,
// terminator included, does not fit; a null data pointer only reports the size. Needs
// KEY_QUERY_VALUE.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
// Needs KEY_SET_VALUE. String data is stored up to its first NUL. A value name holding a line
// break is refused with ERROR_INVALID_PARAMETER.
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
// The index-th value of the key, in the hive's order: ERROR_NO_MORE_ITEMS past the last one.
// *nameSize counts characters without the terminator; *dataSize as for RegQueryValueExA. A
// name that does not fit gives ERROR_MORE_DATA with *nameSize as given, *type and *dataSize
// told, and nothing copied.
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD nameSize, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataSize);
// The index-th key directly below the key, in the original's order (by name, without regard to
// case); needs KEY_ENUMERATE_SUB_KEYS. *nameSize is the buffer's size in, the name's length
// (without the terminator) out; ERROR_MORE_DATA when it does not fit. Keys have no class and
// no recorded write time here: both come back empty.
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                   LPSTR keyClass, LPDWORD classSize, LPFILETIME lastWriteTime);
LONG RegCloseKey(HKEY key);

#define RegOpenKeyEx RegOpenKeyExA
#define RegCreateKeyEx RegCreateKeyExA
#define RegQueryValueEx RegQueryValueExA
#define RegSetValueEx RegSetValueExA
#define RegDeleteValue RegDeleteValueA
#define RegEnumValue RegEnumValueA
#define RegEnumKeyEx RegEnumKeyExA
