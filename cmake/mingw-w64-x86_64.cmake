# Cross build for 64-bit Windows: clang and lld for the MinGW-w64 target, with MinGW-w64's headers and
# import libraries and its GCC's C++ library (Debian's g++-mingw-w64-x86-64), of the posix thread model:
# GoogleTest, which the Windows test programs are built with, needs std::mutex, which the win32 thread
# model lacks. The run-times are linked in statically (-static), so that the DLL still imports from the
# system's own DLLs only.
#
# clang rather than GCC because Windows' dbghelp reads PDB files and no DWARF: clang writes CodeView
# (-gcodeview, among the project's compile options) and lld the PDB, so that the tracker names call sites
# by function, file and line on Windows itself, not only under Wine (whose dbghelp reads both). Each DLL
# and program gets its PDB beside it (<name>.pdb), and its debug directory names the PDB by file name
# alone, so that dbghelp finds it beside the image or through the symbol search path, a symbol server
# included. The module's DLLs are stripped of the DWARF that MinGW's prebuilt run-time objects bring
# along (module/CMakeLists.txt).
#
# Use: cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRACOINS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${VRACOINS_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${VRACOINS_MINGW_TRIPLE})
# LLVM's resource compiler, with windres' command line; it preprocesses the script with clang.
set(CMAKE_RC_COMPILER llvm-windres-14)
set(VRACOINS_OBJCOPY llvm-objcopy-14)

# The C++ library of MinGW-w64's GCC, posix thread model, whichever version Debian ships; clang does not
# find it by itself.
file(GLOB VRACOINS_MINGW_GCC_DIRECTORIES LIST_DIRECTORIES true /usr/lib/gcc/${VRACOINS_MINGW_TRIPLE}/*-posix)
list(SORT VRACOINS_MINGW_GCC_DIRECTORIES COMPARE NATURAL ORDER DESCENDING)
list(GET VRACOINS_MINGW_GCC_DIRECTORIES 0 VRACOINS_MINGW_GCC)
if(NOT IS_DIRECTORY "${VRACOINS_MINGW_GCC}/include/c++")
    message(FATAL_ERROR "no MinGW-w64 GCC of the posix thread model under /usr/lib/gcc/${VRACOINS_MINGW_TRIPLE}: "
                        "install g++-mingw-w64-x86-64 (scripts/install-deps.sh)")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VRACOINS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "-g")
set(CMAKE_CXX_FLAGS_INIT
    "-g -isystem ${VRACOINS_MINGW_GCC}/include/c++ -isystem ${VRACOINS_MINGW_GCC}/include/c++/${VRACOINS_MINGW_TRIPLE}")
# --pdb= with no name: <output>.pdb beside the output. The posix thread model's libgcc_eh calls the thread
# library (lld searches every library of the link, wherever it stands on the command line).
set(VRACOINS_LINK_FLAGS
    "-fuse-ld=lld -L${VRACOINS_MINGW_GCC} -Wl,--pdb= -Wl,-Xlink=-pdbaltpath:%_PDB% -lwinpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${VRACOINS_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${VRACOINS_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${VRACOINS_LINK_FLAGS}")
