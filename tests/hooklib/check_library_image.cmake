# Checks the shipped hook library's image: PE32 for i386, exactly one export named HookProc
# (undecorated), imports from Windows system DLLs only (no runtime DLL slipped in), and a
# version resource.
#   cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> -P check_library_image.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()

if(NOT dump MATCHES "file format pei-i386" OR NOT dump MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
  message(FATAL_ERROR "not a PE32 i386 image")
endif()

# Export names: the lines "[ n] name" after "[Ordinal/Name Pointer] Table".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)" _ "${dump}")
string(REGEX MATCHALL "\\] [^\n]+" exports "${CMAKE_MATCH_1}")
if(NOT exports STREQUAL "] HookProc")
  message(FATAL_ERROR "exports are '${exports}', expected exactly HookProc")
endif()

set(allowed KERNEL32.DLL USER32.DLL ADVAPI32.DLL SHELL32.DLL SHLWAPI.DLL MSVCRT.DLL)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found")
endif()
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOUPPER "${name}" upper)
  if(NOT upper IN_LIST allowed)
    message(FATAL_ERROR "imports ${name}, which is not a Windows system DLL")
  endif()
endforeach()

# VERSIONINFO: its strings are UTF-16 in the resource section.
file(READ ${LIBRARY} image HEX)
set(utf16 "")
foreach(ch V S _ V E R S I O N _ I N F O)
  string(HEX "${ch}" hex)
  string(APPEND utf16 "${hex}00")
endforeach()
string(FIND "${image}" "${utf16}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no version resource")
endif()
message(STATUS "${LIBRARY}: PE32 i386, exports HookProc only, imports ${imports}")
