# Cross-building for Windows with Debian's mingw-w64 compilers. Included by
# the per-architecture toolchain files, which set ZORBEL_MINGW_TRIPLET.
#
# The "-posix" compilers are the ones whose C++ library has std::thread and
# std::mutex; the "-win32" ones lack them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZORBEL_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${ZORBEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORBEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORBEL_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZORBEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs run under Wine and on machines without the compiler's DLLs:
# the C and C++ runtimes go inside each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The test discovery runs the test program, which needs Wine on this host.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
