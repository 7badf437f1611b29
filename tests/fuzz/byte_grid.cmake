# Clipboard text of any content pasted into a byte grid, and "Data" texts read back.
bx_fuzz_target(fuzz_byte_grid ${CMAKE_CURRENT_LIST_DIR}/fuzz_byte_grid.cpp LIBS bx_control Qt5::Widgets)
