# Capture card links: frames per second over loopback TCP and UDP and through the USB read loop.
if(TARGET bx_ostrak_server)
    bx_benchmark(bench_link ${CMAKE_CURRENT_LIST_DIR}/bench_link.cpp LIBS bx_capture_device bx_ostrak_server bx_platform_capture Qt5::Network)
endif()
# The remote link's packet splitter: intake in MB/s on tiny records and on normal traffic.
bx_benchmark(bench_splitter ${CMAKE_CURRENT_LIST_DIR}/bench_splitter.cpp LIBS bx_capture_device bx_platform_capture)
