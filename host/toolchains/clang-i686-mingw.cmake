# clang for 32-bit Windows (i686-w64-windows-gnu) on Debian's MinGW-w64: its headers, its
# libstdc++ and its linker. Build the client from the package's sources with it
# (add_subdirectory(<package>/src/client)); the prebuilt client is g++'s.
#   cmake -S <host> -B <build> -DCMAKE_TOOLCHAIN_FILE=<package>/toolchains/clang-i686-mingw.cmake
# What each setting is for:
#  - the "win32" thread flavour of MinGW's libstdc++: with the "posix" one a static link fails on
#    an emulated-TLS reference to pthread_mutex_lock. That flavour has no std::thread or
#    std::mutex (the client uses neither);
#  - its libstdc++ include folders, which clang does not find on its own;
#  - __GXX_TYPEINFO_EQUALITY_INLINE=0, g++'s setting for this target: clang defines __GXX_WEAK__,
#    which made the header define std::type_info::operator== inline, and the link then found it
#    twice (there and in libstdc++.a);
#  - the MinGW linker (GNU ld), with the runtime's library folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
find_program(QUILLON_CLANGXX NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_CXX_COMPILER ${QUILLON_CLANGXX})
set(CMAKE_CXX_COMPILER_TARGET i686-w64-windows-gnu)
set(CMAKE_AR /usr/bin/i686-w64-mingw32-ar)
set(CMAKE_RANLIB /usr/bin/i686-w64-mingw32-ranlib)
set(CMAKE_RC_COMPILER /usr/bin/i686-w64-mingw32-windres)

set(QUILLON_MINGW_GCC_DIR /usr/lib/gcc/i686-w64-mingw32/12-win32)
set(CMAKE_CXX_FLAGS_INIT
    "--sysroot=/usr/i686-w64-mingw32 -D__GXX_TYPEINFO_EQUALITY_INLINE=0 \
-isystem ${QUILLON_MINGW_GCC_DIR}/include/c++ \
-isystem ${QUILLON_MINGW_GCC_DIR}/include/c++/i686-w64-mingw32")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT
      "--ld-path=/usr/bin/i686-w64-mingw32-ld -L${QUILLON_MINGW_GCC_DIR}")
endforeach()

# As in mingw-i686.cmake: packages are looked for outside the MinGW root too.
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
