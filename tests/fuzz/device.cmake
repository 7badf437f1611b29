# Capture card packet splitters and the capture-session handler's record walk.
bx_fuzz_target(fuzz_splitters ${CMAKE_CURRENT_LIST_DIR}/fuzz_splitters.cpp LIBS bx_capture_device bx_platform_capture)
