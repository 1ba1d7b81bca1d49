# What `cmake --install <tree> --prefix package` puts into the host developers' package:
#   bin/x86/Tallyhook.dll   (win32 tree)      bin/x64/Sidecar64.exe  (win64 tree)
#   include/host/...        client headers    lib/x86|x64/libhost_client.a
#   docs/integration.md
# Install both Windows trees into the same prefix (scripts/package does) to get the whole set.
if(NOT WIN32)
  return()
endif()

set(quillon_arch x86)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(quillon_arch x64)
endif()

install(TARGETS host_client ARCHIVE DESTINATION lib/${quillon_arch})
install(FILES contract.h win32_handles.h DESTINATION include/host)
install(FILES client/assistant_port.h client/assistant_client.h client/reply_check.h
              client/request_text.h client/win32_assistant_port.h
              client/win32_assistant_process.h client/win32_liveness.h
        DESTINATION include/host/client)
install(FILES ${PROJECT_SOURCE_DIR}/docs/integration.md DESTINATION docs)

# The deliverables are defined in folders added after this one: look for them once the whole
# tree is read.
function(quillon_install_deliverables)
  set(arch x86)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch x64)
  endif()
  foreach(deliverable Tallyhook Sidecar64)
    if(TARGET ${deliverable})
      install(FILES $<TARGET_FILE:${deliverable}> DESTINATION bin/${arch})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL quillon_install_deliverables)
