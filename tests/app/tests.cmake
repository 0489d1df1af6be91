# The tray controller with its real window, tray entry and timer; the tray
# menu and icons as the resources carry them.
tolvaran_test(tray_tests
  app/tray_test.cpp
  app/menu_resource_test.cpp
  test_support.cpp
  $<TARGET_OBJECTS:tolvaran_resources>
)

# The program a double click on the tray icon launches in the tests.
add_executable(launch_marker app/launch_marker.cpp)
add_dependencies(tray_tests launch_marker)
target_compile_definitions(tray_tests PRIVATE LAUNCH_MARKER="$<TARGET_FILE:launch_marker>")
