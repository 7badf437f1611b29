# pcapng export and import of a 1,000,000-frame capture.
bx_benchmark(bench_pcapng ${CMAKE_CURRENT_LIST_DIR}/bench_pcapng.cpp
    LIBS bx_pcapng bx_capture_files bx_decoder bx_records bx_tlv bx_platform_capture)
