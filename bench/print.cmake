# Payload decoding (against OpenSSL's Base64 decoder as the reference) and
# receipt output.
find_package(OpenSSL QUIET COMPONENTS Crypto)
if(OpenSSL_FOUND)
    add_executable(bench_print ${CMAKE_CURRENT_LIST_DIR}/print_bench.cpp)
    target_link_libraries(bench_print PRIVATE corvane_print benchmark::benchmark OpenSSL::Crypto)
endif()
