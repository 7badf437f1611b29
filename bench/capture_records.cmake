# TLV frame records: tree parsing, record building and filling, serialising, word form.
bx_benchmark(bench_records ${CMAKE_CURRENT_LIST_DIR}/bench_records.cpp LIBS bx_records bx_tlv Qt5::Core)
