# TLV tree parser and the frame record readers built on it.
bx_fuzz_target(fuzz_tlv ${CMAKE_CURRENT_LIST_DIR}/fuzz_tlv.cpp LIBS bx_tlv)
bx_fuzz_target(fuzz_tlv_records ${CMAKE_CURRENT_LIST_DIR}/fuzz_tlv_records.cpp LIBS bx_records bx_tlv)
# Trace files of any content through the frame table.
bx_fuzz_target(fuzz_trace_table ${CMAKE_CURRENT_LIST_DIR}/fuzz_trace_table.cpp LIBS bx_analysis)
