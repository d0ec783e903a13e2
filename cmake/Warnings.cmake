function(uvc_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Wimplicit-fallthrough -Wformat=2 -Wno-missing-field-initializers)
endfunction()
