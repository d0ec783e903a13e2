# Warnings are errors for the project's own builds and CI; a packager or a newer compiler
# with new diagnostics turns that off with -DUVC_WERROR=OFF and still sees the warnings.
option(UVC_WERROR "Treat compiler warnings as errors" ON)

function(uvc_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic
    -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Wimplicit-fallthrough -Wformat=2 -Wno-missing-field-initializers)
  if(UVC_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
