# Cross build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64), with the compilers of
# the posix thread model: GoogleTest, which the Windows test programs are built with, needs std::mutex,
# which the win32 thread model lacks. The DLL links the thread library in statically (-static), so that it
# still imports from the system's own DLLs only.
# Use: cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRACOINS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VRACOINS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VRACOINS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VRACOINS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VRACOINS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debug information stays in the DLL so that call sites resolve to file and line on the target. DWARF 4,
# because Wine's dbghelp reads no later version (GCC 12 writes DWARF 5 unless told otherwise).
set(CMAKE_C_FLAGS_INIT "-gdwarf-4")
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4")
