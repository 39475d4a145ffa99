# Included by tests/CMakeLists.txt on Linux: the Windows setup program under
# Wine (label windows). It packs the folder tools/windows.sh lays out, and is
# skipped when there is none. Screenshots go to build/win-setup-shots/.
set(win_folder ${CMAKE_BINARY_DIR}/win/Parvelo)
add_test(NAME win_installer
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/xsession.sh
          python3 ${CMAKE_CURRENT_LIST_DIR}/test_wine_installer.py ${win_folder}
          ${CMAKE_BINARY_DIR}/win-setup-shots)
set_tests_properties(win_installer PROPERTIES TIMEOUT 600 LABELS windows SKIP_RETURN_CODE 77)
