# The USB ids of the device the tool serves, kept in one place: the cache settings below.
# They configure <build>/generated/device_ids.h (the dialog's defaults and the simulator's
# default identity), device_ids.sh beside it (for the scripts), and the udev rule.
#   cmake -DUVC_DEVICE_VID=0xVVVV -DUVC_DEVICE_PID=0xPPPP ...
# We do not know the product's own pair, so the default is the pid.codes test pair.
set(UVC_DEVICE_VID "0x1209" CACHE STRING "USB vendor id of the device, hexadecimal (0xVVVV)")
set(UVC_DEVICE_PID "0x0001" CACHE STRING "USB product id of the device, hexadecimal (0xPPPP)")

# Sets <out> to the id as four lower-case hex digits (how sysfs and udev spell it); stops
# the configure on anything that is not a 16-bit hexadecimal number.
function(uvc_device_id setting out)
  set(value "${${setting}}")
  if(NOT value MATCHES "^(0[xX])?([0-9A-Fa-f]+)$")
    message(FATAL_ERROR "${setting}=${value} is not a hexadecimal USB id")
  endif()
  string(REGEX REPLACE "^0+(.)" "\\1" digits "${CMAKE_MATCH_2}")
  string(TOLOWER "${digits}" digits)
  string(LENGTH "${digits}" length)
  if(length GREATER 4)
    message(FATAL_ERROR "${setting}=${value} is not a 16-bit USB id")
  endif()
  math(EXPR pad_count "4 - ${length}")
  string(REPEAT "0" ${pad_count} padding)
  set(${out} "${padding}${digits}" PARENT_SCOPE)
endfunction()
uvc_device_id(UVC_DEVICE_VID UVC_VENDOR_ID)
uvc_device_id(UVC_DEVICE_PID UVC_PRODUCT_ID)

set(UVC_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/device_ids.h.in ${UVC_GENERATED_DIR}/device_ids.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/device_ids.sh.in ${UVC_GENERATED_DIR}/device_ids.sh @ONLY)
include_directories(${UVC_GENERATED_DIR})
