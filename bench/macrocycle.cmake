# Macrocycle detection on every identifier frame of a capture.
bx_benchmark(bench_macrocycle ${CMAKE_CURRENT_LIST_DIR}/bench_macrocycle.cpp LIBS bx_analysis bx_decoder)
