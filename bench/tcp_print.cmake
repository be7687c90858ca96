# print_texto over the TCP transport and over REST, and idle connection memory.
add_executable(bench_tcp_print ${CMAKE_CURRENT_LIST_DIR}/tcp_print_bench.cpp)
target_link_libraries(bench_tcp_print PRIVATE corvane_server benchmark::benchmark)
