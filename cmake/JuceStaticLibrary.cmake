include_guard(GLOBAL)

# A static library that compiles the JUCE modules it links exactly once. The framework's modules
# carry their sources as interface sources, so linking them publicly would compile them again in
# every target that uses the library; instead they are linked privately and only their include
# folders and definitions are passed on.
function(keyferry_export_juce_usage target)
    target_include_directories(${target} INTERFACE $<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} INTERFACE $<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>)

    # Debian's JUCE replaces the bundled image codecs with the system's libraries; the framework's
    # own targets get them added, a plain library has to ask.
    if(TARGET juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
        target_link_libraries(${target} PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    endif()
endfunction()
