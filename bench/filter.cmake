# Display filter over a large trace file.
bx_benchmark(bench_filter ${CMAKE_CURRENT_LIST_DIR}/bench_filter.cpp LIBS bx_analysis bx_filter bx_decoder)
