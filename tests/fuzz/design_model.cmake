# Random sequences of drops, edits, removals, undo and redo on the design model.
bx_fuzz_target(fuzz_design_model ${CMAKE_CURRENT_LIST_DIR}/fuzz_design_model.cpp LIBS bx_design Qt5::Widgets)
