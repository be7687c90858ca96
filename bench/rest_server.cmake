# A stand-alone REST server for bench/rest_wrk.sh (wrk against print_texto).
add_executable(bench_rest_server ${CMAKE_CURRENT_LIST_DIR}/rest_bench_server.cpp)
target_link_libraries(bench_rest_server PRIVATE corvane_server)
