# Capture stream decoding and trace writing.
bx_benchmark(bench_decoder ${CMAKE_CURRENT_LIST_DIR}/bench_decoder.cpp LIBS bx_capture_files bx_decoder bx_records bx_tlv)
