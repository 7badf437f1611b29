# Board description files of any content through the simulated arbitrator boards' reader.
bx_fuzz_target(fuzz_vantor_boards ${CMAKE_CURRENT_LIST_DIR}/fuzz_vantor_boards.cpp LIBS bx_platform_arbitrator Qt5::Core)
