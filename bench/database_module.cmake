# Cost of preparing the database side of a remote methods module, paid once per
# client session (the MySQL client search and the account unscrambling).
add_executable(bench_database_module ${CMAKE_CURRENT_LIST_DIR}/database_module.cpp)
target_link_libraries(bench_database_module PRIVATE corvane_database benchmark::benchmark)
