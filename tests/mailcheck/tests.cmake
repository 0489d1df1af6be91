# The POP3 check: report texts, the scripted-server matrix, the real receive
# time-out, and runs against real servers started by fixtures.
tolvaran_test(mailcheck_tests
  mailcheck/texts_test.cpp
  mailcheck/server_address_test.cpp
  mailcheck/scripted_server_test.cpp
  mailcheck/socket_calls_test.cpp
  mailcheck/import_hook.cpp
  mailcheck/fake_pop3_server.cpp
  mailcheck/report_window.cpp
  test_support.cpp
)

# The real 30 s receive time-out, waited once, beside the other programs.
tolvaran_test(mailcheck_timeout_tests
  mailcheck/timeout_test.cpp
  mailcheck/fake_pop3_server.cpp
  mailcheck/report_window.cpp
  test_support.cpp
)

# Real servers: Dovecot on 127.0.0.7 (IMAP too, on 143) and GNU Mailutils
# pop3d on 127.0.0.2, each started by a fixture into the build tree and
# stopped by its pid. Not on 127.0.0.1: the end-to-end check with an empty
# server name resolves to this machine and reached port 110 there, which
# put a session the Dovecot's count never expected into its log.
tolvaran_test(mailcheck_dovecot_tests
  mailcheck/real_server_test.cpp
  mailcheck/report_window.cpp
  test_support.cpp
)
set(mailcheck_fixture ${CMAKE_CURRENT_SOURCE_DIR}/mailcheck/pop3-fixture)
set(mailcheck_dovecot_dir ${CMAKE_BINARY_DIR}/mailcheck-dovecot)
set(mailcheck_mailutils_dir ${CMAKE_BINARY_DIR}/mailcheck-mailutils)

add_test(NAME mailcheck_dovecot_up COMMAND ${mailcheck_fixture} start dovecot 127.0.0.7 ${mailcheck_dovecot_dir})
add_test(NAME mailcheck_dovecot_down COMMAND ${mailcheck_fixture} stop dovecot ${mailcheck_dovecot_dir})
set_tests_properties(mailcheck_dovecot_up PROPERTIES FIXTURES_SETUP mailcheck_dovecot
  ENVIRONMENT "DOVECOT_IMAP=127.0.0.7:143")
set_tests_properties(mailcheck_dovecot_down PROPERTIES FIXTURES_CLEANUP mailcheck_dovecot)
set_tests_properties(mailcheck_dovecot_tests PROPERTIES
  FIXTURES_REQUIRED mailcheck_dovecot
  ENVIRONMENT "TOLVARAN_POP3_ADDR=127.0.0.7;TOLVARAN_POP3_DIR=${mailcheck_dovecot_dir};TOLVARAN_POP3_CONCURRENCY=50;TOLVARAN_IMAP_ADDR=imap://127.0.0.7")
add_test(NAME mailcheck_dovecot_sessions
  COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/mailcheck/check_sessions.py ${mailcheck_dovecot_dir})
set_tests_properties(mailcheck_dovecot_sessions PROPERTIES
  FIXTURES_REQUIRED mailcheck_dovecot DEPENDS mailcheck_dovecot_tests TIMEOUT 60)

add_test(NAME mailcheck_mailutils_up COMMAND ${mailcheck_fixture} start mailutils 127.0.0.2 ${mailcheck_mailutils_dir})
add_test(NAME mailcheck_mailutils_down COMMAND ${mailcheck_fixture} stop mailutils ${mailcheck_mailutils_dir})
set_tests_properties(mailcheck_mailutils_up PROPERTIES FIXTURES_SETUP mailcheck_mailutils)
set_tests_properties(mailcheck_mailutils_down PROPERTIES FIXTURES_CLEANUP mailcheck_mailutils)
add_test(NAME mailcheck_mailutils_tests COMMAND mailcheck_dovecot_tests)
set_tests_properties(mailcheck_mailutils_tests PROPERTIES
  TIMEOUT 300
  FIXTURES_REQUIRED mailcheck_mailutils
  ENVIRONMENT "TOLVARAN_POP3_ADDR=127.0.0.2;TOLVARAN_POP3_DIR=${mailcheck_mailutils_dir};TOLVARAN_POP3_DOMAIN=@tolvaran.test;TOLVARAN_POP3_CONCURRENCY=0")
add_test(NAME mailcheck_mailutils_sessions
  COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/mailcheck/check_sessions.py ${mailcheck_mailutils_dir})
set_tests_properties(mailcheck_mailutils_sessions PROPERTIES
  FIXTURES_REQUIRED mailcheck_mailutils DEPENDS mailcheck_mailutils_tests TIMEOUT 60)

# TLS: a private test CA made once per build and trusted in the tests' Wine
# prefix; Dovecot with implicit-TLS listeners on localhost:10995 and, for
# IMAP as the "host:993" form reaches it, localhost:993 (its plain listener,
# which the start script probes, on 127.0.0.5); scripted TLS servers on
# localhost:11001 and up. Wine ignores IP addresses in certificates, so
# every TLS test goes to "localhost".
add_executable(trust_test_ca mailcheck/trust_test_ca.cpp test_support.cpp)
target_link_libraries(trust_test_ca PRIVATE tolvaran_core)
add_executable(check_probe mailcheck/check_probe.cpp mailcheck/report_window.cpp)
target_link_libraries(check_probe PRIVATE tolvaran_core)
target_include_directories(check_probe PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(check_probe PRIVATE -Wall -Wextra -Werror)
target_include_directories(trust_test_ca PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(trust_test_ca PRIVATE -Wall -Wextra -Werror)
set(mailcheck_tls_certs ${CMAKE_BINARY_DIR}/mailcheck-tls-certs)
set(mailcheck_tls_dovecot_dir ${CMAKE_BINARY_DIR}/mailcheck-tls-dovecot)

add_test(NAME mailcheck_tls_ca
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/mailcheck/tls-fixture ${CMAKE_BINARY_DIR} ${mailcheck_tls_certs}
          $<TARGET_FILE:trust_test_ca>)
set_tests_properties(mailcheck_tls_ca PROPERTIES FIXTURES_SETUP mailcheck_tls_ca TIMEOUT 120)

add_test(NAME mailcheck_tls_dovecot_up
  COMMAND ${mailcheck_fixture} start dovecot 127.0.0.5 ${mailcheck_tls_dovecot_dir})
add_test(NAME mailcheck_tls_dovecot_down COMMAND ${mailcheck_fixture} stop dovecot ${mailcheck_tls_dovecot_dir})
set_tests_properties(mailcheck_tls_dovecot_up PROPERTIES
  FIXTURES_SETUP mailcheck_tls_dovecot FIXTURES_REQUIRED mailcheck_tls_ca
  ENVIRONMENT "DOVECOT_POP3S=127.0.0.1:10995;DOVECOT_IMAPS=127.0.0.1:993;DOVECOT_TLS_CERT=${mailcheck_tls_certs}/good.pem;DOVECOT_TLS_KEY=${mailcheck_tls_certs}/good.key")
set_tests_properties(mailcheck_tls_dovecot_down PROPERTIES FIXTURES_CLEANUP mailcheck_tls_dovecot)
# The real-server program again, over TLS. Dovecot logs the bytes before
# log-in as they came, encrypted, so there is no session check here.
add_test(NAME mailcheck_tls_dovecot_tests COMMAND mailcheck_dovecot_tests)
set_tests_properties(mailcheck_tls_dovecot_tests PROPERTIES
  TIMEOUT 300
  FIXTURES_REQUIRED "mailcheck_tls_ca;mailcheck_tls_dovecot"
  ENVIRONMENT "TOLVARAN_POP3_ADDR=pop3s://localhost:10995;TOLVARAN_POP3_DIR=${mailcheck_tls_dovecot_dir};TOLVARAN_POP3_CONCURRENCY=50;TOLVARAN_IMAP_ADDR=localhost:993")

add_test(NAME mailcheck_tls_scripted
  COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/mailcheck/tls_scripted.py ${CMAKE_BINARY_DIR}
          $<TARGET_FILE:check_probe> ${mailcheck_tls_certs})
set_tests_properties(mailcheck_tls_scripted PROPERTIES TIMEOUT 180 FIXTURES_REQUIRED mailcheck_tls_ca)

# Schannel and CryptoAPI steered through the import table into the paths
# only Windows takes, against the same Dovecot.
tolvaran_test(mailcheck_tls_calls_tests
  mailcheck/tls_calls_test.cpp
  mailcheck/import_hook.cpp
  mailcheck/report_window.cpp
  test_support.cpp
)
set_tests_properties(mailcheck_tls_calls_tests PROPERTIES
  FIXTURES_REQUIRED "mailcheck_tls_ca;mailcheck_tls_dovecot"
  ENVIRONMENT "TOLVARAN_TLS_CERTS=${mailcheck_tls_certs}")
