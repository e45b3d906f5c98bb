# portrix-demo for Windows (mingw-w64), from the same sources as on Linux, built as any host is:
# against an installed Windows package, through find_package(Portrix). The launcher and the host
# module are split for the same reason as on Linux (portrix.dll reads the registry while it
# loads); both land in one folder, beside which the package's bin/ must be on the DLL path.
# What Linux takes from Debian libraries that have no mingw build has a Windows side here:
#   ServerSockets.cpp   the embedded server's connections over Winsock (cpp-httplib on Linux)
#   ServerProbe.cpp     the probe of a given server: a non-blocking connect (libcurl on Linux)
#   WriteGif.cpp        the artwork's GIF writer (giflib on Linux)
#   Screen.cpp          window capture (BitBlt), PNG through GDI+, and the message pumps, which
#                       the layer provides on Linux and portrixmfc.dll does not carry
# Optimised unless asked otherwise, as scripts/demo.sh builds it on Linux: the host samples the
# dialog every 40 ms, and an unoptimised recognition takes half of that.
if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release)
endif()
find_package(Portrix 0.1 REQUIRED)
find_package(Threads REQUIRED)
set(demo_root ${CMAKE_CURRENT_LIST_DIR}/..)

# The layer's extension headers that the demo includes, copied alone: the folder beside them
# holds the Linux stand-ins of windows.h and its kin.
set(extras ${CMAKE_CURRENT_BINARY_DIR}/extras/include)
foreach(header capture pump input)
    configure_file(${demo_root}/../platform/include/platform/${header}.h
                   ${extras}/platform/${header}.h COPYONLY)
endforeach()

add_library(portrix_demo_parts STATIC
    ${demo_root}/Artwork.cpp
    ${demo_root}/AvatarServer.cpp
    ${demo_root}/ContactSheet.cpp
    ${demo_root}/Options.cpp
    ${demo_root}/TempFolder.cpp
    ${demo_root}/Timeline.cpp
    ${demo_root}/win32/Screen.cpp
    ${demo_root}/win32/ServerProbe.cpp
    ${demo_root}/win32/ServerSockets.cpp
    ${demo_root}/win32/WriteGif.cpp)
target_include_directories(portrix_demo_parts
    PUBLIC ${demo_root} ${extras}
    PRIVATE ${demo_root}/../tests/support)  # handmade_bytes.h: the LZW coder
# gmtime_r over the C runtime's gmtime_s; M_PI under -std=c++17.
target_compile_definitions(portrix_demo_parts PUBLIC _POSIX_THREAD_SAFE_FUNCTIONS _USE_MATH_DEFINES)
target_link_libraries(portrix_demo_parts PUBLIC Portrix::platform Threads::Threads ws2_32 gdiplus)

add_library(portrix_demo_host SHARED ${demo_root}/DemoDialog.cpp ${demo_root}/Host.cpp
                                     ${demo_root}/Scenes.cpp)
set_target_properties(portrix_demo_host PROPERTIES OUTPUT_NAME portrix-demo-host PREFIX "")
target_link_libraries(portrix_demo_host PRIVATE portrix_demo_parts Portrix::portrix Portrix::nimbrel)

add_executable(portrix-demo ${demo_root}/Launcher.cpp ${demo_root}/Options.cpp
                            ${demo_root}/TempFolder.cpp)
target_include_directories(portrix-demo PRIVATE ${demo_root} ${extras})
target_link_libraries(portrix-demo PRIVATE Portrix::platform advapi32)
