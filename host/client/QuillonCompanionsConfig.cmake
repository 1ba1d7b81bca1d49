# find_package(QuillonCompanions CONFIG REQUIRED) gives a host project:
#   QuillonCompanions::client_x86, QuillonCompanions::client_x64   the prebuilt client libraries
#   QuillonCompanions::client          the one for the architecture being built
#   QuillonCompanions_TALLYHOOK_DLL    bin/x86/Tallyhook.dll   (where the package has them)
#   QuillonCompanions_SIDECAR64_EXE    bin/x64/Sidecar64.exe
#   QuillonCompanions_EXAMPLE_DIR      examples/minimal_host
get_filename_component(_quillon_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

foreach(_quillon_arch x86 x64)
  include("${CMAKE_CURRENT_LIST_DIR}/QuillonCompanionsClient-${_quillon_arch}.cmake" OPTIONAL)
endforeach()

set(_quillon_arch x86)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_quillon_arch x64)
endif()
if(TARGET QuillonCompanions::client_${_quillon_arch} AND NOT TARGET QuillonCompanions::client)
  add_library(QuillonCompanions::client INTERFACE IMPORTED)
  set_target_properties(QuillonCompanions::client PROPERTIES
                        INTERFACE_LINK_LIBRARIES QuillonCompanions::client_${_quillon_arch})
endif()

foreach(_quillon_file TALLYHOOK_DLL:bin/x86/Tallyhook.dll SIDECAR64_EXE:bin/x64/Sidecar64.exe
                      EXAMPLE_DIR:examples/minimal_host)
  string(REPLACE ":" ";" _quillon_pair "${_quillon_file}")
  list(GET _quillon_pair 0 _quillon_name)
  list(GET _quillon_pair 1 _quillon_path)
  if(EXISTS "${_quillon_prefix}/${_quillon_path}")
    set(QuillonCompanions_${_quillon_name} "${_quillon_prefix}/${_quillon_path}")
  endif()
endforeach()

if(NOT TARGET QuillonCompanions::client_x86 AND NOT TARGET QuillonCompanions::client_x64)
  set(QuillonCompanions_FOUND FALSE)
  set(QuillonCompanions_NOT_FOUND_MESSAGE "no client library in ${_quillon_prefix}")
endif()
unset(_quillon_prefix)
unset(_quillon_arch)
unset(_quillon_file)
unset(_quillon_pair)
unset(_quillon_name)
unset(_quillon_path)
