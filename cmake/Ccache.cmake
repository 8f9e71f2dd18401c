include_guard(GLOBAL)

# Compiled objects are cached outside the clone, so a fresh clone rebuilds in seconds.
find_program(KEYFERRY_CCACHE ccache)
if(KEYFERRY_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_C_COMPILER_LAUNCHER "${KEYFERRY_CCACHE}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${KEYFERRY_CCACHE}")
endif()
