# Capture stream decoding and capture file loaders.
bx_fuzz_target(fuzz_stream ${CMAKE_CURRENT_LIST_DIR}/fuzz_stream.cpp LIBS bx_decoder bx_records bx_tlv)
bx_fuzz_target(fuzz_raw ${CMAKE_CURRENT_LIST_DIR}/fuzz_raw.cpp LIBS bx_capture_files bx_decoder bx_records bx_tlv)
bx_fuzz_target(fuzz_stats_xml ${CMAKE_CURRENT_LIST_DIR}/fuzz_stats_xml.cpp LIBS bx_capture_files Qt5::Xml)
