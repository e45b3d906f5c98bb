# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the POSIX thread model, so that
# std::thread is there), against the cross compiler's own Windows headers. PORTRIX_WINDOWS_ARCH
# (x86_64 by default, or i686 for 32-bit Windows) picks the compilers.
if(NOT PORTRIX_WINDOWS_ARCH)
    set(PORTRIX_WINDOWS_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PORTRIX_WINDOWS_ARCH})
set(triplet ${PORTRIX_WINDOWS_ARCH}-w64-mingw32)
# The -posix names stay on the POSIX model whichever model the unsuffixed names point to.
find_program(CMAKE_C_COMPILER NAMES ${triplet}-gcc-posix ${triplet}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triplet}-g++-posix ${triplet}-g++ REQUIRED)
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
