#!/usr/bin/env bash
# A host developer's own project, in a fresh folder outside this tree, built against a package
# with each toolchain file the package ships: with find_package (the prebuilt client, g++ only)
# and with add_subdirectory of the package's client sources (every toolchain, clang included).
# Both ways must give the two binaries' paths; a version the package is not must be refused.
#
#   build_with_toolchains.sh <package> <work folder>
set -euo pipefail
package=$(realpath "$1") work=$2
fail() { echo "FAIL: $*"; exit 1; }
version=$(sed -nE 's/^set\(PACKAGE_VERSION "([^"]+)"\)/\1/p' \
  "$package/lib/cmake/QuillonCompanions/QuillonCompanionsConfigVersion.cmake")
[ -n "$version" ] || fail "the package has no version"

project() {  # folder, way (find|subdir), required version
  mkdir -p "$1"
  if [ "$2" = find ]; then
    use="find_package(QuillonCompanions $3 CONFIG REQUIRED)"
  else
    use="add_subdirectory($package/src/client quillon_client)"
  fi
  cat >"$1/CMakeLists.txt" <<EOT
cmake_minimum_required(VERSION 3.16)
project(MyHost LANGUAGES CXX)
$use
foreach(binary TALLYHOOK_DLL SIDECAR64_EXE)
  if(NOT EXISTS "\${QuillonCompanions_\${binary}}")
    message(FATAL_ERROR "no QuillonCompanions_\${binary}")
  endif()
endforeach()
add_executable(my_host main.cpp)
target_link_libraries(my_host PRIVATE QuillonCompanions::client)
target_link_options(my_host PRIVATE -static)
EOT
  cat >"$1/main.cpp" <<'EOT'
#include <windows.h>

#include <string>

#include "host/client/win32_assistant_port.h"
#include "host/client/win32_liveness.h"
#include "host/version.h"

int main() {
  quillon::Win32AssistantClient sidecar(1000);
  std::wstring path;
  const auto status = sidecar.GetPath(GetDesktopWindow(), path);
  return quillon::kVersionText[0] != '\0' && status != quillon::RequestStatus::kResolved ? 0 : 1;
}
EOT
}

rm -rf "$work"
for toolchain in "$package"/toolchains/*.cmake; do
  name=$(basename "$toolchain" .cmake)
  ways="subdir"
  case $name in mingw-*) ways="find subdir" ;; esac
  machine="Intel 80386"
  case $name in *x86_64*) machine="x86-64" ;; esac
  for way in $ways; do
    dir=$work/$name-$way
    project "$dir/src" "$way" "$version"
    cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_PREFIX_PATH="$package" -DCMAKE_BUILD_TYPE=Release >"$dir/configure.log" 2>&1 ||
      { cat "$dir/configure.log"; fail "$name, $way: configure"; }
    cmake --build "$dir/build" >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; fail "$name, $way: build"; }
    file -b "$dir/build/my_host.exe" | grep -q "$machine" || fail "$name, $way: not a $machine program"
    echo "ok: $name, $way"
  done
done

# The config version file: a newer major version than the package's is refused.
project "$work/too-new/src" find "$((${version%%.*} + 1)).0"
if cmake -S "$work/too-new/src" -B "$work/too-new/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$package/toolchains/mingw-i686.cmake" -DCMAKE_PREFIX_PATH="$package" \
  >"$work/too-new.log" 2>&1; then
  fail "a package of $version was taken for version $((${version%%.*} + 1)).0"
fi
echo "ok: every shipped toolchain file builds a host against the package $version"
