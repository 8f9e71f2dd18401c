include_guard(GLOBAL)

option(KEYFERRY_WARNINGS_AS_ERRORS "Treat warnings in our own code as errors" OFF)

# Strict warnings for the project's own source files only: a JUCE target also compiles the
# framework's module sources, which keep the framework's own warning flags.
function(keyferry_set_warnings target)
    set(options -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wno-missing-field-initializers)
    if(KEYFERRY_WARNINGS_AS_ERRORS)
        list(APPEND options -Werror)
    endif()

    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    foreach(source IN LISTS sources)
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${source_dir}" OUTPUT_VARIABLE source_path)
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${source_path}" NORMALIZE ours)
        if(ours)
            set_property(SOURCE "${source_path}" TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS ${options})
        endif()
    endforeach()
endfunction()
