include_guard(GLOBAL)

# One sanitizer configuration per build folder: "address" (with undefined behaviour) or "thread".
set(KEYFERRY_SANITIZER "" CACHE STRING "Sanitizer build: empty, address or thread")
set_property(CACHE KEYFERRY_SANITIZER PROPERTY STRINGS "" address thread)

# Sanitizer builds are for tests: light optimisation and line tables only, which compile much
# faster than full debug information and still give readable reports.
if(NOT KEYFERRY_SANITIZER STREQUAL "")
    set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
    set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
endif()

if(KEYFERRY_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(KEYFERRY_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT KEYFERRY_SANITIZER STREQUAL "")
    message(FATAL_ERROR "KEYFERRY_SANITIZER must be empty, address or thread")
endif()
