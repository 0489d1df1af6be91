# The settings dialog: in-process tests with the real template, and the
# template as the built exe carries it.
tolvaran_test(dialog_tests
  dialog/dialog_test.cpp
  dialog/template_test.cpp
  test_support.cpp
  $<TARGET_OBJECTS:tolvaran_resources>
)
add_dependencies(dialog_tests Tolvaran)
target_compile_definitions(dialog_tests PRIVATE TOLVARAN_EXE="$<TARGET_FILE:Tolvaran>")

# Reads the open settings dialog of a running Tolvaran.exe from outside.
add_executable(dialog_probe dialog/dialog_probe.cpp)
target_include_directories(dialog_probe PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(dialog_probe PRIVATE -Wall -Wextra -Werror)

# The real Tolvaran.exe's settings dialog end to end: tray menu, typing and
# clicks by xdotool, Dovecots on 127.0.0.4 and 127.0.0.150.
add_test(NAME dialog_e2e
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/dialog/dialog_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(dialog_e2e PROPERTIES TIMEOUT 600 RESOURCE_LOCK wineprefix_desktop)

# The same dialog at 150 % display scale: laid out inside its client area,
# and OK still saves what was typed.
add_test(NAME dialog_e2e_150
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/dialog/dialog_e2e.py ${CMAKE_BINARY_DIR} --dpi 144
          -k ok_saves -k inside_the_client_area)
set_tests_properties(dialog_e2e_150 PROPERTIES TIMEOUT 600 RESOURCE_LOCK wineprefix_desktop)
