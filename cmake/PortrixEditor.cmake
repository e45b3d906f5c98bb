# compile_commands.json for editors and clang tools, at one place that does not depend on the
# preset: build/compile_commands.json links to the database of the build that last claimed it.
# The debug, release and demo presets claim it; the sanitizer and fuzz presets leave it alone,
# so that their flags (and the fuzz preset's other compiler) do not reach the editor.
if(NOT PROJECT_IS_TOP_LEVEL)
    return()
endif()
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

get_filename_component(_portrix_build_parent "${PROJECT_BINARY_DIR}" DIRECTORY)
get_filename_component(_portrix_build_name "${PROJECT_BINARY_DIR}" NAME)
if(_portrix_build_parent STREQUAL "${PROJECT_SOURCE_DIR}/build"
   AND _portrix_build_name MATCHES "^(debug|release|demo)$")
    file(CREATE_LINK "${_portrix_build_name}/compile_commands.json"
         "${_portrix_build_parent}/compile_commands.json" SYMBOLIC)
endif()
