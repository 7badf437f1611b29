# The example projects sit beside the program's folder: <build>/bin/brantix finds
# them in <build>/examples/brantix/2sta_worldfip/. They are made by tools/make-examples.
set(BX_EXAMPLES_SOURCE ${CMAKE_SOURCE_DIR}/resources/examples/brantix/2sta_worldfip)
set(BX_EXAMPLES_OUTPUT ${CMAKE_BINARY_DIR}/examples/brantix/2sta_worldfip)
file(GLOB bx_example_files CONFIGURE_DEPENDS ${BX_EXAMPLES_SOURCE}/*.brxprj)
set(bx_example_outputs)
foreach(src IN LISTS bx_example_files)
    get_filename_component(name ${src} NAME)
    add_custom_command(OUTPUT ${BX_EXAMPLES_OUTPUT}/${name}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${BX_EXAMPLES_OUTPUT}/${name}
        DEPENDS ${src}
        COMMENT "Copying example project ${name}")
    list(APPEND bx_example_outputs ${BX_EXAMPLES_OUTPUT}/${name})
endforeach()
add_custom_target(bx_examples ALL DEPENDS ${bx_example_outputs})
add_dependencies(bx_resources bx_examples)
