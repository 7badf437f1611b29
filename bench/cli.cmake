# brantix-cli convert and stats on a 1,000,000-frame raw capture, run as processes.
if(BRANTIX_USE_STANDINS)
    bx_benchmark(bench_cli ${CMAKE_CURRENT_LIST_DIR}/bench_cli.cpp LIBS bx_platform_capture Qt5::Core)
    target_compile_definitions(bench_cli PRIVATE BX_BINARY_DIR="${CMAKE_BINARY_DIR}")
    add_dependencies(bench_cli brantix-cli)
endif()
