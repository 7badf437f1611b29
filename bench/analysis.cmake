# Frame table over a large trace file.
bx_benchmark(bench_frametable ${CMAKE_CURRENT_LIST_DIR}/bench_frametable.cpp LIBS bx_analysis bx_decoder)
