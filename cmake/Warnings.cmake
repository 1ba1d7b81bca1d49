# Warnings as errors on every build; each target opts in with quillon_warnings(<target>).
function(quillon_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Wnon-virtual-dtor -Werror)
endfunction()
