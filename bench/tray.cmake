# Tray benchmark (run by bench/tray-bench): a program that asks a running
# Tolvaran for checks and times its answers to WM_NULL.
add_executable(tray_bench ${CMAKE_CURRENT_SOURCE_DIR}/tray_bench.cpp)
target_include_directories(tray_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(tray_bench PRIVATE -Wall -Wextra -Werror)
target_link_libraries(tray_bench PRIVATE psapi)
