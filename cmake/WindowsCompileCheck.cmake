# Compiles every translation unit of CPort, CPortCtl and app for Windows,
# syntax only, with the mingw-w64 compiler against the host's Qt 6 headers
# and the host's moc and uic outputs: it catches POSIX calls and Linux-only
# code in the portable parts. Nothing is linked (there is no Qt for Windows
# here).
#
#   cmake -DBUILD_DIR=<host build with compile_commands.json and autogen run>
#         -DCOMPILER=x86_64-w64-mingw32-g++-posix -P cmake/WindowsCompileCheck.cmake
#
# The platform folders hold each platform's own backends and are built for
# Windows for real; a file listed below as "path|reason" would be left out as
# Linux-only, and reported once it compiles for Windows, so that the list
# only ever shrinks. Today none is.
cmake_minimum_required(VERSION 3.25)

set(LINUX_ONLY)

foreach(variable BUILD_DIR COMPILER)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()
file(READ "${BUILD_DIR}/compile_commands.json" commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
get_filename_component(source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

set(failed 0)
set(checked 0)
set(seen "")
foreach(index RANGE ${last})
  string(JSON file GET "${commands}" ${index} file)
  string(JSON command GET "${commands}" ${index} command)
  string(JSON directory GET "${commands}" ${index} directory)
  file(RELATIVE_PATH relative "${source_dir}" "${file}")
  # A source built into two targets is checked once.
  if(relative MATCHES "/platform/" OR relative MATCHES "(^|/)qrc_" OR relative IN_LIST seen)
    continue()
  endif()
  list(APPEND seen "${relative}")
  set(reason "")
  foreach(entry ${LINUX_ONLY})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 excluded)
    if(relative STREQUAL excluded)
      list(GET parts 1 reason)
    endif()
  endforeach()
  # The host's compiler becomes the Windows one, the object becomes a
  # syntax check, and Qt's platform definitions become Windows' own.
  string(REGEX REPLACE "^[^ ]+" "${COMPILER}" command "${command}")
  string(REGEX REPLACE " -o [^ ]+ -c " " -fsyntax-only " command "${command}")
  string(REPLACE " -fPIC" "" command "${command}")
  string(REPLACE "mkspecs/linux-g++" "mkspecs/win32-g++" command "${command}")
  if(relative STREQUAL "app/TForm1.cpp")
    set(window_command "${command}")
    set(window_directory "${directory}")
  endif()
  execute_process(COMMAND sh -c "${command}" WORKING_DIRECTORY "${directory}"
                  RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  math(EXPR checked "${checked} + 1")
  if(reason)
    if(result EQUAL 0)
      message("now portable, take it off the Linux-only list: ${relative}")
      set(failed 1)
    else()
      message("Linux-only: ${relative} (${reason})")
    endif()
  elseif(NOT result EQUAL 0)
    message("does not compile for Windows: ${relative}\n${errors}")
    set(failed 1)
  endif()
  # A Linux source's Windows sibling (FlashLauncherLinux.cpp, FlashLauncherWin32.cpp)
  # is not in the host's build: it is compiled with the same flags.
  string(REGEX REPLACE "(Linux)?\\.cpp$" "Win32.cpp" sibling "${relative}")
  if(NOT sibling STREQUAL relative AND EXISTS "${source_dir}/${sibling}")
    string(REPLACE "${file}" "${source_dir}/${sibling}" command "${command}")
    execute_process(COMMAND sh -c "${command}" WORKING_DIRECTORY "${directory}"
                    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
    math(EXPR checked "${checked} + 1")
    if(NOT result EQUAL 0)
      message("does not compile for Windows: ${sibling}\n${errors}")
      set(failed 1)
    endif()
  endif()
endforeach()
# A Windows program includes <windows.h> first: every public and platform
# header but the Linux backend's own must still compile after it and
# <winspool.h>, whose macros (CreateFile, INFINITE, EV_RXCHAR, SetPort...)
# would otherwise rename the component's own names.
file(GLOB headers RELATIVE "${source_dir}" "${source_dir}/CPort/*.h" "${source_dir}/CPort/platform/*.h"
     "${source_dir}/CPortCtl/*.h" "${source_dir}/app/*.h" "${source_dir}/app/platform/*.h")
list(FILTER headers EXCLUDE REGEX "platform/([A-Za-z]*Linux[A-Za-z]*|UniqueFd|Wakeup|InterruptibleWait|TermiosMapping)\\.h$")
set(unit "${BUILD_DIR}/windows-headers-after-windows-h.cpp")
file(WRITE "${unit}" "#include <windows.h>\n#include <winspool.h>\n")
foreach(header ${headers})
  file(APPEND "${unit}" "#include \"${source_dir}/${header}\"\n")
endforeach()
if(NOT window_command)
  message(FATAL_ERROR "app/TForm1.cpp is not in the compile commands")
endif()
string(REGEX REPLACE " [^ ]+$" " ${unit}" command "${window_command}")
string(APPEND command " -I${source_dir}/app/platform")
execute_process(COMMAND sh -c "${command}" WORKING_DIRECTORY "${window_directory}"
                RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
list(LENGTH headers header_count)
if(NOT result EQUAL 0)
  message("the headers do not compile after <windows.h>:\n${errors}")
  set(failed 1)
else()
  message("${header_count} public and platform headers compile after <windows.h> and <winspool.h>")
endif()

if(failed)
  message(FATAL_ERROR "the Windows compile check failed")
endif()
message("Windows compile check: ${checked} translation units, every portable one compiles")
