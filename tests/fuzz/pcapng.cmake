# pcapng and pcap files of any content through the reader and the import into rows.
bx_fuzz_target(fuzz_pcapng ${CMAKE_CURRENT_LIST_DIR}/fuzz_pcapng.cpp LIBS bx_pcapng bx_capture_files bx_decoder bx_records bx_tlv)
