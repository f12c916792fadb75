# Cross-compiling for desktop Windows (x86_64) with Debian's MinGW-w64:
#   cmake -S . -B build-windows-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The -posix compilers (the -win32 ones have no std::mutex or std::thread);
# everything linked statically, so no MinGW DLL is needed at run time; Unicode
# entries (wmain / wWinMain); Wine runs the programs that the build or CTest
# starts.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# UNICODE: the W calls and TEXT("x") = L"x". __USE_MINGW_ANSI_STDIO=0: the
# printf family keeps the Microsoft C library's semantics (%s is wide in the
# wide calls, exponents have three digits), as on the device.
# libstdc++'s os_defines.h redefines it to 1 in every C++ file, so stdio.h and
# wchar.h are read first, before any C++ header, and keep the Microsoft
# declarations.
set(CMAKE_C_FLAGS_INIT "-DUNICODE -D_UNICODE -D__USE_MINGW_ANSI_STDIO=0")
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE -D__USE_MINGW_ANSI_STDIO=0 -include stdio.h -include wchar.h")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Wide entries for the project's programs (wmain, wWinMain). Not in the flags
# above, which also link CMake's own compiler checks (they have a main).
set(VELMAR_PROGRAM_LINK_OPTIONS -municode)

# The build's own programs and the tests run under Wine (the loader of wine64).
find_program(VELMAR_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELMAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMAR_WINE})
endif()
