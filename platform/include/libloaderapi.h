// Win32 kernel: loading and unloading libraries.
//
// A module handle is the address where the library is mapped, as on the original platform; it
// is also the instance handle a library's entry point receives. A name with a separator is a
// path (Windows or POSIX spelling, see platform/path.h); a bare name is searched for as the
// dynamic linker does (LD_LIBRARY_PATH, run paths, the system's directories), as written.
//
// A library's entry point may refuse its attach (an MFC module's DllMain returning FALSE):
// LoadLibraryA then unloads it again and fails with ERROR_DLL_INIT_FAILED. A library that
// refuses its attach while loading any other way (linked in at build time, or opened with
// dlopen directly) ends the process with a message, as the original's loader ends a process
// whose import fails to initialise: dlopen itself cannot be made to fail.
#pragma once
#include "windef.h"

#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif
#ifndef ERROR_PROC_NOT_FOUND
#define ERROR_PROC_NOT_FOUND 127L
#endif
#ifndef ERROR_DLL_INIT_FAILED
#define ERROR_DLL_INIT_FAILED 1114L
#endif

typedef INT_PTR(WINAPI* FARPROC)();

HMODULE LoadLibraryA(LPCSTR fileName);
// Each successful LoadLibraryA is matched by one FreeLibrary; the last one unloads the library.
BOOL FreeLibrary(HMODULE module);
// Only names are looked up (no ordinals): ERROR_PROC_NOT_FOUND otherwise.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// The library's path (the program's for a null module). A path that does not fit is cut to
// size - 1 characters, the result is size and the error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

#define LoadLibrary LoadLibraryA
#define GetModuleFileName GetModuleFileNameA
