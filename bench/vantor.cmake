# Simulated arbitrator boards: a 256-station network brought up, polled and shut down.
bx_benchmark(bench_vantorboards ${CMAKE_CURRENT_LIST_DIR}/bench_vantorboards.cpp LIBS bx_platform_arbitrator Qt5::Core)
