# Cross-builds the Windows program on Debian with MinGW-w64 (package
# g++-mingw-w64-x86-64-posix). The runtime is linked statically, so
# Norvane.exe imports nothing but DLLs that ship with Windows.
#
#   cmake --preset windows     (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex need it, and it is the
# variant Debian's googletest sources build with.
set(CMAKE_C_COMPILER ${NORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NORVANE_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW-w64 tree only; programs (python3,
# the build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${NORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: no DLLs to ship beside the .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, in a prefix of their own (tests/win/wine-run.sh).
cmake_path(SET CMAKE_CROSSCOMPILING_EMULATOR NORMALIZE
           "${CMAKE_CURRENT_LIST_DIR}/../tests/win/wine-run.sh")
