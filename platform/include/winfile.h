// Win32 kernel: directories, file attributes, deletion, directory search and private-profile
// (INI) files. Paths are Windows paths: backslashes or slashes, matched without regard to case
// (see platform/path.h for how they map onto the POSIX file system).
#pragma once
#include "windef.h"

// Error codes of this family that the base header does not carry.
#ifndef ERROR_WRITE_PROTECT
#define ERROR_WRITE_PROTECT 19L
#endif
#ifndef ERROR_HANDLE_DISK_FULL
#define ERROR_HANDLE_DISK_FULL 39L
#endif
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif
#ifndef ERROR_NO_MORE_FILES
#define ERROR_NO_MORE_FILES 18L
#endif
#ifndef ERROR_SEEK
#define ERROR_SEEK 25L
#endif
#ifndef ERROR_READ_FAULT
#define ERROR_READ_FAULT 30L
#endif
#ifndef ERROR_WRITE_FAULT
#define ERROR_WRITE_FAULT 29L
#endif

// ---- Attributes ------------------------------------------------------------------------------
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

// A file is READONLY when its owner may not write it, and NORMAL otherwise; a directory is
// DIRECTORY. INVALID_FILE_ATTRIBUTES (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND) when missing.
DWORD GetFileAttributesA(LPCSTR path);
#define GetFileAttributes GetFileAttributesA

typedef enum _GET_FILEEX_INFO_LEVELS {
    GetFileExInfoStandard,
    GetFileExMaxInfoLevel
} GET_FILEEX_INFO_LEVELS;
typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;
// The attributes (as GetFileAttributesA), times and size of one named file or directory, from
// one status query: no directory search, no open. Only GetFileExInfoStandard is known
// (ERROR_INVALID_PARAMETER otherwise); the errors of a missing name are GetFileAttributesA's.
BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information);
#define GetFileAttributesEx GetFileAttributesExA

// ---- Directories and deletion ----------------------------------------------------------------
// Creates one level: ERROR_ALREADY_EXISTS when the name is taken (by a file or a directory),
// ERROR_PATH_NOT_FOUND when the parent is missing. The security attributes are ignored.
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
// Removes an empty directory (ERROR_DIR_NOT_EMPTY otherwise).
BOOL RemoveDirectoryA(LPCSTR path);
// Deletes a file: ERROR_FILE_NOT_FOUND when missing, ERROR_ACCESS_DENIED for a directory or a
// read-only file, ERROR_SHARING_VIOLATION while any CFile holds it open (no open of this
// layer grants delete sharing, as MFC's never do).
BOOL DeleteFileA(LPCSTR path);
#define CreateDirectory CreateDirectoryA
#define RemoveDirectory RemoveDirectoryA
#define DeleteFile DeleteFileA

// ---- Directory search ------------------------------------------------------------------------
typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;    // UTC; the birth time where the file system keeps one,
                                // else the time of the last status change
    FILETIME ftLastAccessTime;  // UTC
    FILETIME ftLastWriteTime;   // UTC
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
typedef WIN32_FIND_DATAA WIN32_FIND_DATA;
typedef LPWIN32_FIND_DATAA LPWIN32_FIND_DATA;

// The pattern's last component may hold * and ?, matched without regard to case ("*.*"
// matches every name); the entries come in the file system's order, "." and ".." included
// when they match. No match: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND (missing
// directory: ERROR_PATH_NOT_FOUND). The handle is closed with FindClose, not CloseHandle.
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);  // FALSE + ERROR_NO_MORE_FILES at the end
BOOL FindClose(HANDLE find);
#define FindFirstFile FindFirstFileA
#define FindNextFile FindNextFileA

// ---- Private-profile (INI) files -------------------------------------------------------------
// Section and key names match without regard to case; names and values are trimmed of spaces
// and tabs, and one pair of matching quotes (" or ') around a value is removed. A result longer
// than the buffer is cut to size - 1 characters and terminated; the return value is the number
// of characters copied. A missing file, section or key gives the default (trailing spaces
// removed; null counts as ""), and so does a key line without "=". With a null key the result
// lists the names of the section's lines (a missing section gives the default), with a
// null section the file's section names, each terminated, the list ending in a second NUL.
// A file name without a directory is taken relative to the current directory.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR result,
                               DWORD size, LPCSTR fileName);
// The value read as a decimal number, or a hexadecimal one after "0x"; digits end at the first
// other character.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
// Sets key=value in the section (both created when missing, the file too); a null value removes
// the key and a null key the whole section. Lines are written with CR LF. FALSE when the file
// cannot be written (missing directory, access denied, held open without write sharing).
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
// Replaces every line of the section with the entries of "key=value\0key=value\0\0" (written as
// given); the other sections stay as they are. A null list removes the section.
BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR entries, LPCSTR fileName);
#define GetPrivateProfileString GetPrivateProfileStringA
#define GetPrivateProfileInt GetPrivateProfileIntA
#define WritePrivateProfileString WritePrivateProfileStringA
#define WritePrivateProfileSection WritePrivateProfileSectionA
