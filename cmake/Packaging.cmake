# The CMake package of the serial component, and the Debian package of the
# whole installation.
include(CMakePackageConfigHelpers)
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ZorbelSerial)
install(EXPORT ZorbelSerialTargets NAMESPACE ZorbelSerial:: DESTINATION ${config_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZorbelSerialConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZorbelSerialConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZorbelSerialConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZorbelSerialConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ZorbelSerialConfigVersion.cmake
        DESTINATION ${config_dir})

set(CPACK_PACKAGE_NAME zorbel-flash)
set(CPACK_PACKAGE_VENDOR ZORBEL)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update tool for the ZORBEL data logger")
set(CPACK_PACKAGE_DESCRIPTION
  "Updates the firmware of a ZORBEL data logger through its serial boot loader
with avrdude, tells which port and speed the boot loader listens at
(zorbel-probe), shows what the board says on its serial port
(zorbel-monitor), and carries the serial port component and its selector as
static libraries with their headers and CMake package (ZorbelSerial).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZORBEL flash maintainers <zorbel-flash@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Qt libraries and the C++ runtime come from the shared-library
# dependency detection; the flasher is started, not linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "avrdude")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "x-terminal-emulator")
include(CPack)
