# MinGW-w64 builds. Everything runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR
# (scripts/wine-run), so add_test(COMMAND <target>) runs the real Windows binary.

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                        WINVER=0x0601)

# No runtime DLLs next to our binaries: libgcc, libstdc++ and winpthread are linked in.
add_link_options(-static -static-libgcc -static-libstdc++)

# Reproducible output: one commit gives the same bytes whatever folder it is built in and
# whenever, so that anyone can check a signed binary against the sources (scripts/release,
# tests/scripts/reproducible_test.sh).
# - No PE time stamp (0): the loader does not need one, and a build time makes every build differ.
# - Paths in debug information and __FILE__ relative to the source tree or, for generated files,
#   the build tree, which is the compilation folder "." (the build tree may lie inside the source
#   tree: the map given last is tried first).
# - Static libraries with member dates and owners zeroed (ar's D modifier; Debian's ar does so by
#   default, others may not).
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=.
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
set(CMAKE_CXX_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")

# GoogleTest for Windows, built from Debian's sources with the posix-thread compilers.
if(BUILD_TESTING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${QUILLON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                   SYSTEM)
endif()

# A Wine-run test program: one CTest entry per binary, bounded in time. Where Wine's 32-bit
# loader runs under qemu-user, 32-bit processes run slower, so the 32-bit tree's bound is wider.
# Each one refuses to run outside the tests' own prefix (harness/own_prefix_guard.cpp).
# VERDICT: a GoogleTest program with its own main that ends through
# tests/support/clean_run.h, and passes only when it printed the clean-run line, which comes only
# after a whole run without a failure: a process that dies on the way (as under qemu, where a jump
# into unmapped memory can end it with no exception at all) never passes by its exit code.
#   quillon_wine_test(<target> [VERDICT] [TIMEOUT s] [ARGS ...])
function(quillon_wine_test target)
  cmake_parse_arguments(ARG "VERDICT" "TIMEOUT" "ARGS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(ARG_TIMEOUT 120)
    else()
      set(ARG_TIMEOUT 300)
    endif()
  endif()
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/harness/own_prefix_guard.cpp)
  add_test(NAME ${target} COMMAND ${target} ${ARG_ARGS})
  set_tests_properties(${target} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS wine)
  if(ARG_VERDICT)
    set_tests_properties(${target} PROPERTIES PASS_REGULAR_EXPRESSION "PASSED: 0 failure\\(s\\)")
  endif()
endfunction()

# Ship a deliverable into DIST_DIR, stripped, with its debug symbols beside it in <file>.debug,
# which the stripped image names in its .gnu_debuglink section (docs/integration.md: reading a
# crash address). -g does not change the code generated, only what the .debug file holds.
# objcopy writes a PE time stamp of its own into both files: the current time unless
# SOURCE_DATE_EPOCH names one, so it is given the linker's 0 (see "Reproducible output" above).
#   quillon_ship(<target> [DEBUG_INFO_FROM <static library> ...])
function(quillon_ship target)
  cmake_parse_arguments(ARG "" "" "DEBUG_INFO_FROM" ${ARGN})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DIST_DIR}
                                             LIBRARY_OUTPUT_DIRECTORY ${DIST_DIR})
  foreach(compiled ${target} ${ARG_DEBUG_INFO_FROM})
    target_compile_options(${compiled} PRIVATE -g)
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                             ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
                             $<TARGET_FILE_NAME:${target}>.debug
                     COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                             ${CMAKE_OBJCOPY} --strip-all
                             --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
                             $<TARGET_FILE_NAME:${target}>
                     WORKING_DIRECTORY ${DIST_DIR} VERBATIM)
endfunction()
