# Arbitrator workers: start-up and shutdown of a full set of workers on simulated boards.
if(BRANTIX_USE_STANDINS)
    bx_benchmark(bench_arbitrators ${CMAKE_CURRENT_LIST_DIR}/bench_arbitrators.cpp LIBS bx_control bx_design bx_platform_arbitrator Qt5::Widgets)
endif()
