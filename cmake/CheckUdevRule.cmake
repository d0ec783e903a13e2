# Test: the generated udev rule names the ids the dialog program itself looks for (its
# --help prints them from DefaultVendorId/DefaultProductId).
#   cmake -DPROGRAM=<uvc_hid_tool> -DRULE=<rules file> -P CheckUdevRule.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT help MATCHES "\\(([0-9a-f][0-9a-f][0-9a-f][0-9a-f]):([0-9a-f][0-9a-f][0-9a-f][0-9a-f])")
  message(FATAL_ERROR "${PROGRAM} --help (status ${status}) names no VID:PID:\n${help}")
endif()
set(expected "ATTRS{idVendor}==\"${CMAKE_MATCH_1}\", ATTRS{idProduct}==\"${CMAKE_MATCH_2}\"")
file(READ ${RULE} rule)
string(FIND "${rule}" "${expected}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${RULE} does not match ${expected}:\n${rule}")
endif()
if(NOT rule MATCHES "SUBSYSTEM==\"hidraw\"[^\n]*TAG\\+=\"uaccess\"")
  message(FATAL_ERROR "${RULE} does not give the seat's user the hidraw node:\n${rule}")
endif()
