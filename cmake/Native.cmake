# Linux build of the portable core. Sanitizers catch what the fakes provoke.
if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(BUILD_TESTING)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    # Debian ships the sources only in some configurations; build them with the tree.
    add_subdirectory(${QUILLON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                     SYSTEM)
  endif()
  include(GoogleTest)
endif()
