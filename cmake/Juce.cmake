include_guard(GLOBAL)

# JUCE 8.0.6: the folder given by KEYFERRY_JUCE_DIR, or Debian's patched source package,
# fetched once into the user's cache by scripts/fetch-juce.sh.
set(KEYFERRY_JUCE_DIR "" CACHE PATH "A JUCE 8.0.6 source tree; fetched into the cache when empty")

if(NOT KEYFERRY_JUCE_DIR)
    execute_process(
        COMMAND "${PROJECT_SOURCE_DIR}/scripts/fetch-juce.sh"
        OUTPUT_VARIABLE fetched_juce_dir
        OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE fetch_result)
    if(NOT fetch_result EQUAL 0)
        message(FATAL_ERROR "Could not fetch JUCE; pass -DKEYFERRY_JUCE_DIR=<path to JUCE 8.0.6>")
    endif()
    set(KEYFERRY_JUCE_DIR "${fetched_juce_dir}" CACHE PATH "A JUCE 8.0.6 source tree; fetched into the cache when empty" FORCE)
endif()

if(NOT EXISTS "${KEYFERRY_JUCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "KEYFERRY_JUCE_DIR (${KEYFERRY_JUCE_DIR}) is not a JUCE source tree")
endif()

file(STRINGS "${KEYFERRY_JUCE_DIR}/CMakeLists.txt" juce_project_line REGEX "^project\\(JUCE VERSION")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" juce_version "${juce_project_line}")
if(NOT juce_version VERSION_EQUAL 8.0.6)
    message(WARNING "Building against JUCE ${juce_version}; the project is pinned to 8.0.6")
endif()

add_subdirectory("${KEYFERRY_JUCE_DIR}" "${CMAKE_BINARY_DIR}/juce" EXCLUDE_FROM_ALL)
