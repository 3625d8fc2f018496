# Compiler settings shared by every target of the project.
#
# serverapp_defaults(target) gives a target the project's warnings, symbol
# visibility and sanitizer flags. Library code is built with hidden
# visibility so that the host and the module each keep their own copies of
# shared code (the interface database in particular).

set(SERVERAPP_WARNINGS -Wall -Wextra)
if(SERVERAPP_WERROR)
  list(APPEND SERVERAPP_WARNINGS -Werror)
endif()

if(SERVERAPP_SANITIZE)
  string(REPLACE ";" "," _san "${SERVERAPP_SANITIZE}")
  add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_san})
endif()

# Frame pointers keep the crash handler's stack walk and the dumps useful.
add_compile_options(-fno-omit-frame-pointer)

# __FILE__ (the debugger-output lines, assertion reports) names a source
# relative to the repository, "host/serverapp/...", not the build machine's
# folder. The compiler sees the source by its absolute path, or, through
# ccache with a base_dir, by a path relative to the build folder: map both.
# Only macros: the debug information keeps full paths for the debugger.
# ccache hashes that these options are given, not their values: every value
# here yields the same repository path, so a cached object fits any checkout.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)
file(RELATIVE_PATH _serverapp_source_from_build ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
string(REGEX REPLACE "/$" "" _serverapp_source_from_build "${_serverapp_source_from_build}")
if(_serverapp_source_from_build)
  add_compile_options(-fmacro-prefix-map=${_serverapp_source_from_build}/=)
endif()

function(serverapp_defaults target)
  target_compile_options(${target} PRIVATE ${SERVERAPP_WARNINGS})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A program of the deployment that crash dumps must name. The Windows build
# links it with a build id (a CodeView RSDS record, which a minidump's
# module list carries as the debug identifier) and moves its debug
# information into <file>.debug beside it, linked by .gnu_debuglink, so the
# deployed file stays small and symbol tools find the exact build's DWARF.
# Linux images carry a GNU build id already (the toolchain's default) and
# keep their debug information.
function(serverapp_deployed_binary target)
  if(NOT WIN32)
    return()
  endif()
  target_link_options(${target} PRIVATE LINKER:--build-id)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
            $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-debug
            --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
