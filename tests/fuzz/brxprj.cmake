# Project files of any content through the loader, then saved and loaded again.
bx_fuzz_target(fuzz_brxprj ${CMAKE_CURRENT_LIST_DIR}/fuzz_brxprj.cpp LIBS bx_design Qt5::Widgets Qt5::Xml)
