# `cpack -G DEB`: a Debian package of what cmake/Install.cmake lays out, installed under
# /usr, with its library dependencies computed by dpkg-shlibdeps and maintainer scripts
# that reload the udev rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${UVC_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${UVC_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for a USB video-capture device over vendor HID")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "A dialog and a command line that find the capture device by its USB ids,\n"
    "read and write the registers, IIC devices and GPIO pins of its bridge chip,\n"
    "burn, dump and verify its serial flash, and read its firmware version and\n"
    "HDMI input information. A simulated device (uvc_hid_sim) and a HID report\n"
    "descriptor inspector (hid_caps) are included, and a udev rule that gives the\n"
    "user at the local seat access to the device.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
