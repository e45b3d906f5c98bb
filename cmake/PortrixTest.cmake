# Test helpers shared by every tests/ folder.
#
# portrix_add_gtest(name SOURCES ... [LIBS ...] [LABELS ...] [ENV ...])
#   One GoogleTest executable, run by ctest as one test.
# portrix_glob_gtests(prefix [LIBS ...] [ENV ...])
#   One executable per *_test.cpp of the current folder, named prefix_<stem>. A file that
#   contains a line "// ctest-labels: a;b" gets those labels ("threaded" puts it under TSan).
#
# threaded_tests: builds the tests labelled "threaded" and, through their dependencies, all
# that they run; the ThreadSanitizer build builds it alone (CMakePresets.json).
if(NOT TARGET threaded_tests)
    add_custom_target(threaded_tests)
endif()

function(portrix_add_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main portrix_test_support ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if("threaded" IN_LIST T_LABELS)
        add_dependencies(threaded_tests ${name})
    endif()
    # Windows stay in memory even when the developer's session has a display; the tests of the
    # screen start an X server of their own and turn the display back on for themselves.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "PORTRIX_NO_DISPLAY=1;${T_ENV}")
endfunction()

function(portrix_glob_gtests prefix)
    cmake_parse_arguments(G "" "" "LIBS;ENV" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
    foreach(source ${sources})
        get_filename_component(stem ${source} NAME_WE)
        string(REGEX REPLACE "_test$" "" stem ${stem})
        file(STRINGS ${source} label_line REGEX "^// ctest-labels:" LIMIT_COUNT 1)
        set(labels "")
        if(label_line)
            string(REGEX REPLACE "^// ctest-labels:[ ]*" "" labels "${label_line}")
        endif()
        portrix_add_gtest(${prefix}_${stem} SOURCES ${source} LIBS ${G_LIBS} LABELS ${labels} ENV ${G_ENV})
    endforeach()
endfunction()
