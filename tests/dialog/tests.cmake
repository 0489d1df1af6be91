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
