# Display filter expressions.
bx_fuzz_target(fuzz_frame_filter ${CMAKE_CURRENT_LIST_DIR}/fuzz_frame_filter.cpp LIBS bx_filter)
