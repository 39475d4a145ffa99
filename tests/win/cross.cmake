# Included by tests/CMakeLists.txt on Linux: cross-builds the Windows core and
# its test programs with mingw-w64 as part of the build, and runs them under
# Wine in an X session of their own (CTest label windows).
find_program(PARVELO_MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT PARVELO_MINGW_CXX OR NOT EXISTS /usr/lib/wine/wine64)
  set(why "the Windows core tests need g++-mingw-w64-x86-64-posix and wine64 (tools/install-deps.sh)")
  if(DEFINED ENV{CI})
    message(FATAL_ERROR "${why}")
  endif()
  message(WARNING "${why}; left out")
  return()
endif()

include(ExternalProject)
ExternalProject_Add(wincore
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/wincore
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
  INSTALL_COMMAND ""
  # Its sources are ours: let its own build decide what is out of date.
  BUILD_ALWAYS ON)

# Without a window manager: Wine then manages focus and activation itself, as
# Windows does. Under openbox, keys held through SendInput did not show as
# held (Wine follows the X server's key state), so that case could not be
# shown there.
add_test(NAME win_core
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/xsession.sh --no-wm
          ${CMAKE_CURRENT_LIST_DIR}/run-wine.sh ${CMAKE_BINARY_DIR}/wincore)
set_tests_properties(win_core PROPERTIES TIMEOUT 300 LABELS windows)

# The adapter is built only with Qt for Windows, which this machine lacks:
# check at least that it compiles against the seam as it is now, with the
# mingw-w64 compiler and the Linux Qt headers (their dllimport notes aside).
add_test(NAME win_adapter_compiles
  COMMAND ${PARVELO_MINGW_CXX} -std=c++17 -fsyntax-only -Wall -Wextra -Werror -Wno-attributes
          -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0A00
          -I${CMAKE_SOURCE_DIR}/src
          "-I$<JOIN:$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>,;-I>"
          ${CMAKE_SOURCE_DIR}/src/platform/win/WinPlatform.cpp
  COMMAND_EXPAND_LISTS)
set_tests_properties(win_adapter_compiles PROPERTIES LABELS windows)

# The whole program under Wine: the folder tools/windows.sh lays out (it
# needs Qt for Windows, which that script builds or takes from its cache;
# tools/test.sh runs it before the tests). Registered once the folder is
# there. Screenshots go to build/win-e2e/.
set(win_folder ${CMAKE_BINARY_DIR}/win/Parvelo)
if(EXISTS ${win_folder}/parvelo.exe)
  add_test(NAME win_program
    COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/xsession.sh --no-wm
            python3 ${CMAKE_CURRENT_LIST_DIR}/test_wine_program.py ${win_folder}
            ${CMAKE_BINARY_DIR}/wincore/wintext.exe $<TARGET_FILE:vinstrument>
            ${CMAKE_BINARY_DIR}/win-e2e)
  # Alone: beside another Wine test on two cores, Notepad read its keys so
  # slowly that a click on Stop found two readings unread, and Wine drops
  # what a window has not read when it loses the activation.
  set_tests_properties(win_program PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE LABELS windows)
endif()
