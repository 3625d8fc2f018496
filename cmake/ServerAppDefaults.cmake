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

function(serverapp_defaults target)
  target_compile_options(${target} PRIVATE ${SERVERAPP_WARNINGS})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
