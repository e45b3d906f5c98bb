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
foreach(header capture picture_cache pump)
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
