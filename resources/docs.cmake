# The help document sits beside the program's folder: <build>/bin/brantix opens
# <build>/docs/html/brantix/brantix.html.
set(BX_DOCS_SOURCE ${CMAKE_SOURCE_DIR}/docs/html/brantix)
set(BX_DOCS_OUTPUT ${CMAKE_BINARY_DIR}/docs/html/brantix)
file(GLOB_RECURSE bx_docs_files CONFIGURE_DEPENDS ${BX_DOCS_SOURCE}/*)
set(bx_docs_outputs)
foreach(src IN LISTS bx_docs_files)
    file(RELATIVE_PATH rel ${BX_DOCS_SOURCE} ${src})
    add_custom_command(OUTPUT ${BX_DOCS_OUTPUT}/${rel}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${BX_DOCS_OUTPUT}/${rel}
        DEPENDS ${src}
        COMMENT "Copying help document ${rel}")
    list(APPEND bx_docs_outputs ${BX_DOCS_OUTPUT}/${rel})
endforeach()
add_custom_target(bx_docs ALL DEPENDS ${bx_docs_outputs})
# Whatever links the resources gets the help document too.
add_dependencies(bx_resources bx_docs)
