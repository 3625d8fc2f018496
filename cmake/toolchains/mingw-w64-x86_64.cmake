# Cross build of the Windows program with Debian's mingw-w64 (posix threads,
# so that std::thread and std::mutex work). The runtime libraries are linked
# statically: ServerApp.exe, server_d_x64.dll and gsmsim.exe need no DLL
# beyond those of Windows itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C99 printf family of the mingw runtime rather than msvcrt's: "%zu",
# "%lld" and "%hhu" then mean what they mean on POSIX, so log lines are the
# same on both systems.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs of the build (the msz tool during the build, the tests under
# ctest, GoogleTest's listing of test names) run under Wine, in a private
# prefix of the build folder that wine-run.sh creates with the null display
# driver on first use. WINEPREFIX set in the environment wins.
find_program(SERVERAPP_WINE NAMES wine64 wine)
if(SERVERAPP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
      ${CMAKE_BINARY_DIR}/wineprefix)
endif()
