# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which gives std::thread). Everything links statically: the exe needs no DLL
# beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUOR_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUOR_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUOR_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUOR_MINGW}-windres)
set(CMAKE_MC_COMPILER ${QUOR_MINGW}-windmc)

# QUOR_WINDOWS_DEPS: where scripts/windows installed the cross-built libraries.
set(CMAKE_FIND_ROOT_PATH ${QUOR_WINDOWS_DEPS} /usr/${QUOR_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# localtime_r and friends from the runtime; no min/max macros from windows.h;
# winsock2.h, not the old winsock.h, for every socket user.
set(QUOR_WINDOWS_DEFINES "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L -DNOMINMAX -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601")
set(CMAKE_C_FLAGS_INIT "${QUOR_WINDOWS_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${QUOR_WINDOWS_DEFINES}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Cross-built tests run under Wine.
find_program(QUOR_WINE NAMES wine wine64)
if(QUOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUOR_WINE})
endif()
