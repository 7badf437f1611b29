# The window under the densest live traffic: GUI latency and lost frames.
if(TARGET bx_ostrak_server)
    bx_benchmark(bench_livecapture ${CMAKE_CURRENT_LIST_DIR}/bench_livecapture.cpp LIBS bx_app bx_resources bx_ostrak_server bx_platform_capture)
endif()
