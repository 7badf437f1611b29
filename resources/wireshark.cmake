# The Wireshark dissector of exported captures sits beside the program.
set(BX_DISSECTOR ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/brantix_fip.lua)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bin/brantix_fip.lua
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${BX_DISSECTOR} ${CMAKE_BINARY_DIR}/bin/brantix_fip.lua
    DEPENDS ${BX_DISSECTOR}
    COMMENT "Copying the Wireshark dissector")
add_custom_target(bx_dissector ALL DEPENDS ${CMAKE_BINARY_DIR}/bin/brantix_fip.lua)
add_dependencies(bx_resources bx_dissector)
