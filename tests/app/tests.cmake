# The tray controller with its real window, tray entry and timer; the tray
# menu and icons as the resources carry them.
tolvaran_test(tray_tests
  app/tray_test.cpp
  app/menu_resource_test.cpp
  mailcheck/import_hook.cpp
  test_support.cpp
  $<TARGET_OBJECTS:tolvaran_resources>
)

# The program a double click on the tray icon launches in the tests.
# A program of the windows subsystem, as a mail program is: a console one
# brings up a console window of its own, which goes away later, over the tray.
add_executable(launch_marker WIN32 app/launch_marker.cpp)
add_dependencies(tray_tests launch_marker)
target_compile_definitions(tray_tests PRIVATE LAUNCH_MARKER="$<TARGET_FILE:launch_marker>")

# Holds the single-instance guard's name while it runs a program.
add_executable(hold_mutex app/hold_mutex.cpp)

# Prints the title and text of the balloon the shell shows.
add_executable(notice_probe app/notice_probe.cpp)
target_link_libraries(notice_probe PRIVATE comctl32)

# The real Tolvaran.exe end to end: Wine virtual desktop on an Xvfb of its
# own, real tray, real Dovecot on 127.0.0.3, mouse clicks by xdotool.
add_test(NAME tray_e2e
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/tray_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(tray_e2e PROPERTIES TIMEOUT 600 RESOURCE_LOCK wineprefix_desktop)

# The pictures of README.md and docs/ taken afresh from the real program:
# each of the five icons brought about by a scripted server and checked by
# its colours.
add_test(NAME tray_screenshots
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/screenshots.py ${CMAKE_BINARY_DIR}
          ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(tray_screenshots PROPERTIES TIMEOUT 300 RESOURCE_LOCK wineprefix_desktop)

# The real Tolvaran.exe over TLS: red clock from a Dovecot pop3s listener
# on localhost:10996, the test CA trusted in the desktop prefix too.
add_test(NAME tls_e2e
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/tls_e2e.py ${CMAKE_BINARY_DIR}
          ${CMAKE_BINARY_DIR}/mailcheck-tls-certs)
set_tests_properties(tls_e2e PROPERTIES TIMEOUT 300 RESOURCE_LOCK wineprefix_desktop
  FIXTURES_REQUIRED mailcheck_tls_ca)

# The manifest each built exe carries, read back from the file: its own
# processor, per-monitor DPI awareness and Common Controls 6; and each exe
# at most 180 KB, its size per section printed.
add_test(NAME exe_manifests COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/app/exe_manifest.py)
