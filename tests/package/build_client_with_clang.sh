#!/usr/bin/env bash
# Builds the client from its own folder alone, as a host tree would, with a second compiler:
# clang for a Windows target with the MinGW-w64 headers, strict ISO C++17, no extensions, every
# warning an error. The headers are those of MinGW's win32 thread model, whose standard library
# has no std::thread: the client must do without it.
#
#   build_client_with_clang.sh <client folder> <work folder> <i686|x86_64>
set -euo pipefail
client=$1 work=$2 arch=$3
triple=$arch-w64-mingw32
gcc_dir=$(ls -d /usr/lib/gcc/"$triple"/*-win32 | sort -V | tail -n 1)
clang=$(command -v clang++-14 || command -v clang++)

rm -rf "$work"
mkdir -p "$work"
cat >"$work/toolchain.cmake" <<EOT
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER $clang)
set(CMAKE_CXX_COMPILER_TARGET $triple)
set(CMAKE_AR /usr/bin/$triple-ar)
set(CMAKE_RANLIB /usr/bin/$triple-ranlib)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_FLAGS_INIT "-isystem $gcc_dir/include/c++ -isystem $gcc_dir/include/c++/$triple -Wall -Wextra -pedantic-errors -Wshadow -Wconversion -Wsign-conversion -Werror")
EOT
cmake -S "$client" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j2
library=$(find "$work/build" -name '*host_client.a' | head -n 1)
[ -n "$library" ] || { echo "no library built"; exit 1; }
# Every Win32 source was compiled, not only the portable ones.
symbols=$("$triple-nm" -C "$library")
for symbol in 'IconHook::Install' 'ReplaceLibraryFile'; do
  grep -q "$symbol" <<<"$symbols" || { echo "FAIL: the Win32 part is missing ($symbol)"; exit 1; }
done
# Installed on its own it is a package of the release's version, the top-level project's.
cmake --install "$work/build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
version=$(sed -nE 's/^project\(QuillonCompanions VERSION ([0-9.]+) .*/\1/p' "$client/../../CMakeLists.txt")
version_file=$work/prefix/lib/cmake/QuillonCompanions/QuillonCompanionsConfigVersion.cmake
grep -qx "set(PACKAGE_VERSION \"$version\")" "$version_file" 2>/dev/null ||
  { echo "FAIL: the install has no version file of version $version"; exit 1; }
echo "client built with $($clang --version | head -n 1) for $triple, installed as version $version"
