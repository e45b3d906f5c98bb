# The control's tests built for Windows, from the same sources as on Linux, against the system's
# Win32 and OLE; scripts/wine_product_tests.sh runs them under Wine. The few layer extensions the
# tests call (message pumping, window capture, the decoded-picture count) have a Windows side in
# tests/wine/product_seams.cpp. One program, so that Wine starts once; built without
# optimisation or debug information, since it is built on every run.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "Debian's GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)

set(tests ${PROJECT_SOURCE_DIR}/tests)
set(seam_headers ${PROJECT_BINARY_DIR}/test-seams/include)
foreach(header capture input picture_cache pump)
    configure_file(${PROJECT_SOURCE_DIR}/platform/include/platform/${header}.h
                   ${seam_headers}/platform/${header}.h COPYONLY)
endforeach()

add_executable(product_test
    ${tests}/picture/gif_builder.cpp
    ${tests}/picture/picture_harness.cpp
    ${tests}/picture/loading_test.cpp
    ${tests}/picture/playback_test.cpp
    ${tests}/avatar/formats_test.cpp
    ${tests}/wine/product_seams.cpp)
target_include_directories(product_test PRIVATE ${seam_headers} ${tests}/support ${tests}/picture)
target_link_libraries(product_test PRIVATE portrix_avatar portrix_picture nimbrel gtest gtest_main)

# The control on a dialog, with the recording stand-in of the download library: a nimbrel.dll of
# its own beside the test program, which the loader takes before the one beside portrix.dll. The
# install path that the module reads at attach is set in the Wine prefix's registry by the
# script; it is given here in the form the registry holds it.
set(recording_dir ${PROJECT_BINARY_DIR}/bin/recording)
add_library(recording_download SHARED ${tests}/avatar/recording/RecordingDownload.cpp)
set_target_properties(recording_download PROPERTIES OUTPUT_NAME nimbrel PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${recording_dir} ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib/recording)
target_compile_definitions(recording_download PRIVATE NIMBREL_BUILDING_DLL)
target_include_directories(recording_download PUBLIC ${tests}/avatar/recording)
target_link_libraries(recording_download PUBLIC portrix_download_api)

set(PORTRIX_WINE_INSTALL_DIR "Z:${PROJECT_BINARY_DIR}/avatar.home/install")
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/avatar.home/install)
# A program of control tests: the control on a dialog with the test pictures, the install path,
# and the layer extensions' Windows side. LIBRARIES come first, so that their DLLs are imported
# (and attached) ahead of portrix.dll.
function(add_control_test name)
    cmake_parse_arguments(arg "" "OUTPUT_DIRECTORY" "SOURCES;INCLUDES;LIBRARIES" ${ARGN})
    add_executable(${name} ${tests}/avatar/ControlHarness.cpp ${tests}/avatar/TestPictures.cpp
        ${arg_SOURCES} ${tests}/wine/product_seams.cpp)
    if(arg_OUTPUT_DIRECTORY)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${arg_OUTPUT_DIRECTORY})
    endif()
    target_compile_definitions(${name} PRIVATE
        PORTRIX_TEST_INSTALL_DIR="${PORTRIX_WINE_INSTALL_DIR}")
    target_include_directories(${name} PRIVATE
        ${seam_headers} ${tests}/support ${tests}/avatar ${arg_INCLUDES})
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} portrix gtest gtest_main)
endfunction()

add_control_test(avatar_control_test OUTPUT_DIRECTORY ${recording_dir} LIBRARIES recording_download
    SOURCES ${tests}/avatar/display_test.cpp ${tests}/avatar/polling_test.cpp
            ${tests}/avatar/properties_test.cpp)
file(WRITE ${PROJECT_BINARY_DIR}/avatar.home/install-path "${PORTRIX_WINE_INSTALL_DIR}")

# The rest of the picture tests in the same program: the GIF scanner, and the public GIF
# conformance suite, read in place through Wine's Z: drive.
target_sources(product_test PRIVATE ${tests}/picture/scanner_test.cpp ${tests}/picture/conformance_test.cpp)
get_filename_component(gif_suite ${PROJECT_SOURCE_DIR}/../shared/conformance/gif/test-suite REALPATH)
target_compile_definitions(product_test PRIVATE PORTRIX_GIF_CONFORMANCE_DIR="Z:${gif_suite}")

# ---- The module's start-up, loaded for real: module_load_probe loads module_under_test.dll in a
# process of its own per scenario, with the scenario's hive standing for HKEY_CURRENT_USER there.
# The test program finds both beside itself.
add_library(module_under_test SHARED ${tests}/module/ModuleProbeExports.cpp)
set_target_properties(module_under_test PROPERTIES PREFIX "")
target_link_libraries(module_under_test PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,portrix_module>"
    portrix_platform portrix_store)
add_executable(module_load_probe ${tests}/module/module_load_probe.cpp)
target_include_directories(module_load_probe PRIVATE ${tests}/wine)
target_link_libraries(module_load_probe PRIVATE portrix_platform)
add_executable(module_test ${tests}/module/attach_test.cpp ${tests}/module/housekeeping_test.cpp
    ${tests}/module/ProbeRunner.cpp)
target_compile_definitions(module_test PRIVATE _POSIX_THREAD_SAFE_FUNCTIONS
    PORTRIX_MODULE_PROBE="module_load_probe.exe" PORTRIX_MODULE_LIBRARY="module_under_test.dll")
target_include_directories(module_test PRIVATE ${tests}/support ${tests}/wine)
target_link_libraries(module_test PRIVATE portrix_platform gtest gtest_main)
add_dependencies(module_test module_load_probe module_under_test)

# ---- The control without a store: no_store_setup.dll puts a hive without the Path value in
# HKEY_CURRENT_USER's place and answers the box the module shows at load. The test's own
# recording nimbrel.dll imports it, so that the loader attaches it before portrix.dll.
set(no_store_dir ${PROJECT_BINARY_DIR}/bin/no-store)
set(no_store_hive ${PROJECT_BINARY_DIR}/avatar_no_store.home/hkcu.reg)
file(WRITE ${no_store_hive} "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\n")
add_library(no_store_setup SHARED ${tests}/wine/no_store_setup.cpp)
target_compile_definitions(no_store_setup PRIVATE PORTRIX_LOAD_BOXES_BUILDING
    PORTRIX_NO_STORE_HIVE="Z:${no_store_hive}")
target_include_directories(no_store_setup PRIVATE ${tests}/wine ${tests}/support)
add_library(no_store_download SHARED ${tests}/avatar/recording/RecordingDownload.cpp
    ${tests}/wine/no_store_anchor.cpp)
target_compile_definitions(no_store_download PRIVATE NIMBREL_BUILDING_DLL)
target_include_directories(no_store_download PUBLIC ${tests}/avatar/recording)
target_link_libraries(no_store_download PUBLIC portrix_download_api PRIVATE no_store_setup)
foreach(target no_store_setup no_store_download)
    set_target_properties(${target} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${no_store_dir}
        ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib/no-store)
endforeach()
set_target_properties(no_store_download PROPERTIES OUTPUT_NAME nimbrel)
add_control_test(avatar_no_store_test OUTPUT_DIRECTORY ${no_store_dir}
    LIBRARIES no_store_download no_store_setup SOURCES ${tests}/avatar/no_store_test.cpp)

# ---- The control's view of the store's files, in the program of the unit tests.
target_sources(product_test PRIVATE ${tests}/avatar/store_files_test.cpp)

# ---- The control with the real nimbrel.dll (beside portrix.dll), fetching from the nginx that
# the script starts on 127.0.0.1 beside Wine (tests/wine/nginx_server.cpp).
add_control_test(avatar_end_to_end_test LIBRARIES nimbrel INCLUDES ${tests}/nimbrel
    SOURCES ${tests}/avatar/end_to_end_test.cpp ${tests}/wine/nginx_server.cpp
            ${tests}/nimbrel/NginxRequests.cpp)

# ---- How long Display() keeps the user-interface thread, with the real nimbrel.dll and nginx
# (bench/display_wait.cpp; scripts/wine_display_wait.sh builds and runs it).
if(PORTRIX_BUILD_BENCH)
    add_control_test(bench_display_wait LIBRARIES nimbrel INCLUDES ${tests}/nimbrel ${tests}/picture
        SOURCES ${PROJECT_SOURCE_DIR}/bench/display_wait.cpp ${tests}/wine/nginx_server.cpp
                ${tests}/nimbrel/NginxRequests.cpp ${tests}/picture/gif_builder.cpp)
endif()
