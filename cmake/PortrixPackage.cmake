# What a host builds against: the three shared libraries with their sonames, the public headers
# under one folder, the version header, and (for installs) the CMake and pkg-config packages.
#
#   build tree (add_subdirectory, FetchContent)   Portrix::portrix, Portrix::nimbrel,
#                                                 Portrix::platform, Portrix::download_api
#   installed tree                                the same names through find_package(Portrix),
#                                                 or portrix.pc through pkg-config
#
#   <prefix>/include/portrix/      Portrix.h, MouseEventHook.h, AnimatedPicture.h,
#                                  AvatarDownload.h, PortrixVersion.h, and the platform's
#                                  windows.h, afxwin.h, ... (platform/capture.h, ... below it)
#   <prefix>/lib/                  libportrix.so.0, libnimbrel.so.0, libportrix_platform.so.0
#   <prefix>/lib/cmake/Portrix/    the CMake package
#   <prefix>/lib/pkgconfig/        portrix.pc
#   <prefix>/bin/                  the platform's tools (portrix-reg)
#
# Installed programs find the libraries beside them through $ORIGIN run paths, so the installed
# tree may be moved as a whole.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PORTRIX_SHARED_LIBRARIES portrix nimbrel portrix_platform)
foreach(library ${PORTRIX_SHARED_LIBRARIES})
    set_target_properties(${library} PROPERTIES
        VERSION ${PROJECT_VERSION}
        SOVERSION ${PORTRIX_SOVERSION}
        INSTALL_RPATH "$ORIGIN")
endforeach()
set_target_properties(portrix_platform PROPERTIES EXPORT_NAME platform)

foreach(library portrix nimbrel platform download_api)
    if(library STREQUAL "platform" OR library STREQUAL "download_api")
        set(target portrix_${library})
    else()
        set(target ${library})
    endif()
    add_library(Portrix::${library} ALIAS ${target})
    target_compile_features(${target} INTERFACE cxx_std_17)
endforeach()

# The version header, generated into the build tree and installed with the others.
set(PORTRIX_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/PortrixVersion.h.in
               ${PORTRIX_GENERATED_INCLUDE_DIR}/PortrixVersion.h @ONLY)

set(PORTRIX_INSTALL_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/portrix)
target_include_directories(portrix_platform INTERFACE $<INSTALL_INTERFACE:${PORTRIX_INSTALL_INCLUDE_DIR}>)
target_include_directories(portrix PUBLIC $<BUILD_INTERFACE:${PORTRIX_GENERATED_INCLUDE_DIR}>)

# Every program of the platform folder is one of its tools.
get_property(platform_targets DIRECTORY ${PROJECT_SOURCE_DIR}/platform PROPERTY BUILDSYSTEM_TARGETS)
set(PORTRIX_TOOLS "")
file(RELATIVE_PATH lib_from_bin /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
foreach(target ${platform_targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        list(APPEND PORTRIX_TOOLS ${target})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${lib_from_bin}")
    endif()
endforeach()

if(NOT PORTRIX_INSTALL)
    return()
endif()

install(TARGETS ${PORTRIX_SHARED_LIBRARIES} portrix_download_api
    EXPORT PortrixTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${PORTRIX_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Headers: the platform's under their own names, the product's public ones beside them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/ ${PROJECT_SOURCE_DIR}/platform/afx/include/
    DESTINATION ${PORTRIX_INSTALL_INCLUDE_DIR} FILES_MATCHING PATTERN "*.h")
install(FILES
    ${PROJECT_SOURCE_DIR}/avatar/Portrix.h
    ${PROJECT_SOURCE_DIR}/avatar/MouseEventHook.h
    ${PROJECT_SOURCE_DIR}/picture/AnimatedPicture.h
    ${PROJECT_SOURCE_DIR}/download/AvatarDownload.h
    ${PORTRIX_GENERATED_INCLUDE_DIR}/PortrixVersion.h
    DESTINATION ${PORTRIX_INSTALL_INCLUDE_DIR})

set(PORTRIX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Portrix)
install(EXPORT PortrixTargets NAMESPACE Portrix:: DESTINATION ${PORTRIX_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/PortrixConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/PortrixConfig.cmake
    INSTALL_DESTINATION ${PORTRIX_PACKAGE_DIR})
# Before 1.0 a minor version may break the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/PortrixConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/PortrixConfig.cmake
              ${PROJECT_BINARY_DIR}/package/PortrixConfigVersion.cmake
    DESTINATION ${PORTRIX_PACKAGE_DIR})

file(RELATIVE_PATH PORTRIX_PC_PREFIX_FROM_PCFILEDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" PORTRIX_PC_PREFIX_FROM_PCFILEDIR "${PORTRIX_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/portrix.pc.in ${PROJECT_BINARY_DIR}/package/portrix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/portrix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
