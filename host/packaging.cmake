# What `cmake --install <tree> --prefix <package>` puts into the host developers' package; both
# Windows trees install into one prefix (scripts/package does):
#   bin/x86/Tallyhook.dll, bin/x86/QuillonDoctor.exe (+ .debug)   bin/x64/Sidecar64.exe (+ .debug)
#   include/host/...                      lib/x86|x64/libhost_client.a       (client/CMakeLists.txt)
#   lib/cmake/QuillonCompanions/          package config, version, client targets per architecture
#   src/client/                           the client's sources, for hosts built with other compilers
#   examples/minimal_host/                docs/integration.md   CHANGELOG.md   LICENSE
#   toolchains/                           CMake toolchain files for MinGW g++ (x86, x64) and clang
if(NOT WIN32)
  return()
endif()

include(CMakePackageConfigHelpers)
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/QuillonCompanionsConfigVersion.cmake VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuillonCompanionsConfigVersion.cmake
        DESTINATION lib/cmake/QuillonCompanions)

install(FILES ${CMAKE_BINARY_DIR}/generated/host/version.h DESTINATION include/host)
install(DIRECTORY client/ DESTINATION src/client)
# The client's sources built on their own take the release's version from this header.
install(FILES ${CMAKE_BINARY_DIR}/generated/host/version.h DESTINATION src/client/include/host)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/minimal_host DESTINATION examples)
install(DIRECTORY toolchains/ DESTINATION toolchains)
install(FILES ${PROJECT_SOURCE_DIR}/docs/integration.md DESTINATION docs)
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

# The deliverables are defined in folders added after this one: look for them once the whole
# tree is read.
function(quillon_install_deliverables)
  set(arch x86)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch x64)
  endif()
  foreach(deliverable Tallyhook Sidecar64 QuillonDoctor)
    if(TARGET ${deliverable})
      install(FILES $<TARGET_FILE:${deliverable}> $<TARGET_FILE:${deliverable}>.debug
              DESTINATION bin/${arch})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL quillon_install_deliverables)
