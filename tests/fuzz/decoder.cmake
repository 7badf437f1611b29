# Capture stream decoding and capture file loaders.
bx_fuzz_target(fuzz_stream ${CMAKE_CURRENT_LIST_DIR}/fuzz_stream.cpp LIBS bx_decoder bx_records bx_tlv)
