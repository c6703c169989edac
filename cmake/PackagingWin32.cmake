# The Windows packages of the tool, both for the architecture built: a
# portable zip (the two programs and a short README.txt) and an installer
# made by NSIS from the template in cmake/nsis.
set(CPACK_PACKAGE_NAME zorbel-flash)
set(CPACK_PACKAGE_VENDOR ZORBEL)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update tool for the ZORBEL data logger")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "ZORBEL Flash")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_SYSTEM_NAME win64)
endif()
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_NSIS_PACKAGE_NAME "ZORBEL DATALOGGER FLASH")
set(CPACK_NSIS_DISPLAY_NAME "ZORBEL DATALOGGER FLASH")
set(CPACK_NSIS_COMPRESSOR lzma)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# The debugging symbols stay in the build tree.
set(CPACK_STRIP_FILES ON)
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)
include(CPack)
