# The design check over a long stored trace, and its share of a live capture.
bx_benchmark(bench_designcheck ${CMAKE_CURRENT_LIST_DIR}/bench_designcheck.cpp LIBS bx_designcheck bx_platform_capture)
