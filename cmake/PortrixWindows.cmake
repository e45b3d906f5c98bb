# The Windows build (mingw-w64, i686 or x86_64; see cmake/mingw-w64.cmake): the same product
# sources over the system's own Win32, USER, GDI, OLE and registry. Of platform/ only what
# Windows lacks is built: the MFC subset and the few extensions the product calls, as one DLL
# (portrixmfc.dll) that the host, portrix.dll and nimbrel.dll share, since CString and CWnd cross
# between them. The compiler's runtime (libstdc++, libgcc, winpthread) is shared as DLLs too, so
# that one heap and one exception runtime serve every module: a CFileException thrown in the
# subset is caught in the product.
#
#   <prefix>/bin/      portrix.dll, nimbrel.dll, portrixmfc.dll and the compiler's runtime DLLs
#   <prefix>/include/portrix/   Portrix.h and everything it includes (the MFC subset's headers,
#                               never the Linux stand-ins)
#   <prefix>/lib/      the import libraries; lib/cmake/Portrix the CMake package
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_compile_options(-Wall -Wextra)
if(PORTRIX_WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
endif()
if(NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
    set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
    set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
endif()
find_package(Threads REQUIRED)
set(PORTRIX_SOVERSION ${PROJECT_VERSION_MAJOR})
set(PORTRIX_INSTALL_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/portrix)

# The layer's extension headers that the product includes, copied alone into a folder of the
# build tree: the folder beside them holds the Linux stand-ins of windows.h and its kin, which
# must not come before the system's.
set(PORTRIX_EXTRAS_HEADERS clock confined_opens directory display msgbox registry_hive
                           write_temporaries)
set(PORTRIX_EXTRAS_INCLUDE_DIR ${PROJECT_BINARY_DIR}/extras/include)
foreach(header ${PORTRIX_EXTRAS_HEADERS})
    configure_file(${PROJECT_SOURCE_DIR}/platform/include/platform/${header}.h
                   ${PORTRIX_EXTRAS_INCLUDE_DIR}/platform/${header}.h COPYONLY)
endforeach()

# ---- portrixmfc.dll: the MFC subset and the extensions ---------------------------------------
set(afx ${PROJECT_SOURCE_DIR}/platform/afx)
add_library(portrix_platform SHARED
    ${afx}/cstring.cpp
    ${afx}/exception.cpp
    ${afx}/extension.cpp
    ${afx}/file_find.cpp
    ${afx}/file_object.cpp
    ${afx}/msgmap.cpp
    ${afx}/oledatetime.cpp
    ${afx}/paintdc.cpp
    ${afx}/static.cpp
    ${afx}/time.cpp
    ${afx}/wnd.cpp
    ${PROJECT_SOURCE_DIR}/platform/win32/directory.cpp
    ${PROJECT_SOURCE_DIR}/platform/win32/extras.cpp
    ${PROJECT_SOURCE_DIR}/platform/win32/file.cpp)
set_target_properties(portrix_platform PROPERTIES OUTPUT_NAME portrixmfc PREFIX "" EXPORT_NAME platform)
target_include_directories(portrix_platform
    PUBLIC $<BUILD_INTERFACE:${afx}/include> $<BUILD_INTERFACE:${PORTRIX_EXTRAS_INCLUDE_DIR}>
           $<INSTALL_INTERFACE:${PORTRIX_INSTALL_INCLUDE_DIR}>
    PRIVATE ${PROJECT_SOURCE_DIR}/platform ${PROJECT_SOURCE_DIR}/platform/win32)
# localtime_r and gmtime_r over the C runtime's localtime_s and gmtime_s.
target_compile_definitions(portrix_platform PRIVATE _POSIX_THREAD_SAFE_FUNCTIONS)
# Every symbol of the subset is its interface, as every symbol of the layer is on Linux.
target_link_options(portrix_platform PRIVATE -Wl,--export-all-symbols)
target_link_libraries(portrix_platform PUBLIC Threads::Threads user32 gdi32 ole32 oleaut32 uuid)

# ---- The download library's interface and nimbrel.dll -----------------------------------------
add_library(portrix_download_api INTERFACE)
target_include_directories(portrix_download_api INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/download>)
target_link_libraries(portrix_download_api INTERFACE portrix_platform)
add_library(portrix_store INTERFACE)
target_include_directories(portrix_store INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/store>)

if(EXISTS ${PROJECT_SOURCE_DIR}/nimbrel/win32/CMakeLists.txt)
    set(NIMBREL_MFC_TARGET portrix_platform)
    add_subdirectory(${PROJECT_SOURCE_DIR}/nimbrel/win32 nimbrel)
    set(PORTRIX_NIMBREL_STUB OFF)
else()
    # Until the download library has a Windows side: a nimbrel.dll whose calls do nothing, so
    # that the control links and runs (its downloads then never arrive).
    add_library(nimbrel SHARED ${PROJECT_SOURCE_DIR}/download/win32/NimbrelStub.cpp)
    set_target_properties(nimbrel PROPERTIES PREFIX "")
    target_compile_definitions(nimbrel PRIVATE NIMBREL_BUILDING_DLL)
    target_link_libraries(nimbrel PUBLIC portrix_download_api)
    set(PORTRIX_NIMBREL_STUB ON)
    message(WARNING "nimbrel has no Windows side in this tree: nimbrel.dll is a stand-in that fetches nothing")
endif()

# ---- portrix.dll ------------------------------------------------------------------------------
# As on Linux: static libraries of module, picture and avatar (the unit tests link them
# directly), gathered whole into the DLL, which exports CPortrix alone (PORTRIX_API).
file(GLOB module_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/module/*.cpp)
add_library(portrix_module STATIC ${module_sources})
target_include_directories(portrix_module PUBLIC ${PROJECT_SOURCE_DIR}/module)
target_link_libraries(portrix_module PUBLIC portrix_platform PRIVATE portrix_store)

add_library(portrix_picture STATIC
    ${PROJECT_SOURCE_DIR}/picture/AnimatedPicture.cpp
    ${PROJECT_SOURCE_DIR}/picture/FrameArray.cpp
    ${PROJECT_SOURCE_DIR}/picture/GifFormat.cpp
    ${PROJECT_SOURCE_DIR}/picture/GifScanner.cpp
    ${PROJECT_SOURCE_DIR}/picture/Playback.cpp)
target_include_directories(portrix_picture PUBLIC ${PROJECT_SOURCE_DIR}/picture)
target_link_libraries(portrix_picture PUBLIC portrix_platform)

# ProductExports.cpp is left out: a class imported from nimbrel.dll cannot be exported again.
file(GLOB avatar_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/avatar/*.cpp)
list(REMOVE_ITEM avatar_sources ${PROJECT_SOURCE_DIR}/avatar/ProductExports.cpp)
add_library(portrix_avatar STATIC ${avatar_sources})
target_compile_definitions(portrix_avatar PUBLIC $<BUILD_INTERFACE:PORTRIX_BUILDING_DLL>)
target_include_directories(portrix_avatar
    PUBLIC ${PROJECT_SOURCE_DIR}/avatar ${PROJECT_SOURCE_DIR}/picture
    PRIVATE ${PROJECT_SOURCE_DIR}/module)
target_link_libraries(portrix_avatar PUBLIC portrix_platform portrix_download_api PRIVATE portrix_store)

set(PORTRIX_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated/include)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/PortrixVersion.h.in
               ${PORTRIX_GENERATED_INCLUDE_DIR}/PortrixVersion.h @ONLY)
add_library(portrix SHARED ${PROJECT_SOURCE_DIR}/store/AvatarStoreNames.h)
set_target_properties(portrix PROPERTIES PREFIX "" LINKER_LANGUAGE CXX)
target_link_libraries(portrix
    PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,portrix_module,portrix_picture,portrix_avatar>" nimbrel
    PUBLIC portrix_platform portrix_download_api)
target_include_directories(portrix PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/avatar> $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/picture>
    $<BUILD_INTERFACE:${PORTRIX_GENERATED_INCLUDE_DIR}>)

foreach(library portrix nimbrel platform download_api)
    if(library STREQUAL "platform" OR library STREQUAL "download_api")
        set(target portrix_${library})
    else()
        set(target ${library})
    endif()
    add_library(Portrix::${library} ALIAS ${target})
    target_compile_features(${target} INTERFACE cxx_std_17)
endforeach()

if(PORTRIX_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/wine/product.cmake)
    include(${PROJECT_SOURCE_DIR}/tests/wine/product.cmake)
endif()

if(NOT PORTRIX_INSTALL)
    return()
endif()

# ---- The package ------------------------------------------------------------------------------
install(TARGETS portrix nimbrel portrix_platform portrix_download_api
    EXPORT PortrixTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The compiler's runtime DLLs that the three depend on, from the compiler's own folders.
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
        OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${runtime_path}" AND EXISTS "${runtime_path}")
        install(FILES ${runtime_path} DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
install(DIRECTORY ${afx}/include/ DESTINATION ${PORTRIX_INSTALL_INCLUDE_DIR} FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PORTRIX_EXTRAS_INCLUDE_DIR}/ DESTINATION ${PORTRIX_INSTALL_INCLUDE_DIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/avatar/Portrix.h
    ${PROJECT_SOURCE_DIR}/avatar/MouseEventHook.h
    ${PROJECT_SOURCE_DIR}/picture/AnimatedPicture.h
    ${PROJECT_SOURCE_DIR}/download/AvatarDownload.h
    ${PORTRIX_GENERATED_INCLUDE_DIR}/PortrixVersion.h
    DESTINATION ${PORTRIX_INSTALL_INCLUDE_DIR})
set(PORTRIX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Portrix)
install(EXPORT PortrixTargets NAMESPACE Portrix:: DESTINATION ${PORTRIX_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/PortrixConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/PortrixConfig.cmake
    INSTALL_DESTINATION ${PORTRIX_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/PortrixConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/PortrixConfig.cmake
              ${PROJECT_BINARY_DIR}/package/PortrixConfigVersion.cmake
    DESTINATION ${PORTRIX_PACKAGE_DIR})
