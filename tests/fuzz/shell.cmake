# Settings stores of any content through the options layer, written and read back.
bx_fuzz_target(fuzz_settings_store ${CMAKE_CURRENT_LIST_DIR}/fuzz_settings_store.cpp LIBS bx_shell Qt5::Gui)
