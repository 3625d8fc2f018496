# Server modules built by other compilers than the host's, to prove that the
# module boundary depends on the headers alone (docs/building-a-module.md).
#
# serverapp_msvcabi_module(TARGET t OUTPUT dll SOURCES ... INCLUDES ...)
#   Windows build: compiles the sources with clang for x86_64-pc-windows-msvc
#   (the Windows compiler's C++ ABI) with no standard library, and links them
#   with lld-link /dll /nodefaultlib against kernel32 into OUTPUT.
#
# serverapp_libcxx_reference_module(TARGET t)
#   Native build: the reference module built by clang++ with -stdlib=libc++,
#   in a build folder of its own (<build>/libcxx-module); its library is
#   <build>/libcxx-module/dist/server_d_x64.so.

function(serverapp_msvcabi_module)
  cmake_parse_arguments(M "" "TARGET;OUTPUT" "SOURCES;INCLUDES" ${ARGN})
  find_program(SERVERAPP_MSVCABI_CLANG NAMES clang++ REQUIRED)
  find_program(SERVERAPP_LLD_LINK NAMES lld-link REQUIRED)
  # mingw-w64's import library; lld-link reads it like a Windows SDK one.
  find_file(SERVERAPP_KERNEL32_LIB libkernel32.a
            PATHS /usr/x86_64-w64-mingw32/lib REQUIRED NO_DEFAULT_PATH)
  set(_flags
      --target=x86_64-pc-windows-msvc -std=c++20 -O2 -Wall -Wextra
      # Nothing of a C or C++ runtime exists for this target here: no
      # exceptions, no RTTI, no stack probes or cookies, no guarded statics.
      -ffreestanding -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe
      -fno-threadsafe-statics)
  if(SERVERAPP_WERROR)
    list(APPEND _flags -Werror)
  endif()
  foreach(_inc IN LISTS M_INCLUDES)
    list(APPEND _flags -I${_inc})
  endforeach()
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/${M_TARGET}.objs)
  set(_objects)
  foreach(_src IN LISTS M_SOURCES)
    get_filename_component(_name ${_src} NAME_WE)
    set(_obj ${_dir}/${_name}.obj)
    add_custom_command(
      OUTPUT ${_obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${SERVERAPP_MSVCABI_CLANG} ${_flags} -MD -MF ${_obj}.d -c ${_src} -o ${_obj}
      DEPENDS ${_src}
      DEPFILE ${_obj}.d
      COMMENT "clang (MSVC ABI) ${_name}.cpp"
      VERBATIM)
    list(APPEND _objects ${_obj})
  endforeach()
  get_filename_component(_out_dir ${M_OUTPUT} DIRECTORY)
  add_custom_command(
    OUTPUT ${M_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_out_dir}
    COMMAND ${SERVERAPP_LLD_LINK} /nologo /dll /nodefaultlib /entry:DllMain /out:${M_OUTPUT}
            ${_objects} ${SERVERAPP_KERNEL32_LIB}
    DEPENDS ${_objects}
    COMMENT "lld-link ${M_OUTPUT}"
    VERBATIM)
  add_custom_target(${M_TARGET} ALL DEPENDS ${M_OUTPUT})
endfunction()

function(serverapp_libcxx_reference_module)
  cmake_parse_arguments(M "" "TARGET" "" ${ARGN})
  find_program(SERVERAPP_LIBCXX_CLANG NAMES clang++ REQUIRED)
  find_program(SERVERAPP_LIBCXX_CLANG_C NAMES clang REQUIRED)
  include(ExternalProject)
  set(_launcher)
  if(CMAKE_CXX_COMPILER_LAUNCHER)
    set(_launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
                  -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER})
  endif()
  # The whole project configured again, but only the module (and what it
  # links) built: the same sources, another compiler and standard library.
  ExternalProject_Add(${M_TARGET}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/libcxx-module
    CMAKE_ARGS
      -G Ninja
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DCMAKE_CXX_COMPILER=${SERVERAPP_LIBCXX_CLANG}
      -DCMAKE_C_COMPILER=${SERVERAPP_LIBCXX_CLANG_C}
      -DCMAKE_CXX_FLAGS=-stdlib=libc++
      -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++
      -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++
      -DSERVERAPP_TESTS=OFF
      -DSERVERAPP_BENCH=OFF
      -DSERVERAPP_WERROR=${SERVERAPP_WERROR}
      ${_launcher}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target server_d_x64
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/libcxx-module/dist/server_d_x64.so)
endfunction()
