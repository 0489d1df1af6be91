# The POP3 check: report texts, the scripted-server matrix, the real receive
# time-out, and runs against real servers started by fixtures.
tolvaran_test(mailcheck_tests
  mailcheck/texts_test.cpp
  mailcheck/scripted_server_test.cpp
  mailcheck/fake_pop3_server.cpp
  mailcheck/report_window.cpp
  test_support.cpp
)
target_link_libraries(mailcheck_tests PRIVATE ws2_32)
