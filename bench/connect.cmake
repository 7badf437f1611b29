# Connect and Disconnect of the whole network from the main window, repeated.
if(BRANTIX_USE_STANDINS)
    bx_benchmark(bench_connect ${CMAKE_CURRENT_LIST_DIR}/bench_connect.cpp LIBS bx_app bx_resources Qt5::Widgets)
    target_compile_definitions(bench_connect PRIVATE BX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
