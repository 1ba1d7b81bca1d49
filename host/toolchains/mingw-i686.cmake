# Debian's MinGW-w64 g++ for i686 Windows, the compiler the package's prebuilt client was built
# with (the posix thread flavour):
#   cmake -S <host> -B <build> -DCMAKE_TOOLCHAIN_FILE=<package>/toolchains/mingw-i686.cmake \
#         -DCMAKE_PREFIX_PATH=<package>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# Libraries and headers only from the MinGW root, programs only from the build machine. Packages
# are looked for everywhere: the usual "CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY" re-roots every
# CMAKE_PREFIX_PATH entry under the MinGW root (/usr/i686-w64-mingw32/<package>), where the
# package is not, and find_package(QuillonCompanions) fails.
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
