# POP3 check benchmarks (run by bench/pop3-bench): the check run as the
# program starts it, and a minimal blocking client built the same way.
add_executable(mailcheck_bench ${CMAKE_CURRENT_SOURCE_DIR}/mailcheck_bench.cpp)
target_link_libraries(mailcheck_bench PRIVATE tolvaran_core)
target_compile_options(mailcheck_bench PRIVATE -Wall -Wextra -Werror)

add_executable(pop3_minimal_client ${CMAKE_CURRENT_SOURCE_DIR}/pop3_minimal_client.cpp)
target_link_libraries(pop3_minimal_client PRIVATE wsock32)
target_compile_options(pop3_minimal_client PRIVATE -Wall -Wextra -Werror)

# Soak benchmark (run by bench/soak): ten thousand check runs in one process.
add_executable(soak_bench ${CMAKE_CURRENT_SOURCE_DIR}/soak_bench.cpp)
target_link_libraries(soak_bench PRIVATE tolvaran_core psapi)
target_compile_options(soak_bench PRIVATE -Wall -Wextra -Werror)
