# Rendering the page report of a printed text to PDF (layout and drawing, no printer).
add_executable(bench_page_report ${CMAKE_CURRENT_LIST_DIR}/page_report.cpp)
target_link_libraries(bench_page_report PRIVATE corvane_print benchmark::benchmark)
