# bx_folder_library(<target> [DEPS <targets>...])
# One static library per source folder, made of every .cpp/.h/.ui/.qrc in it.
# A folder with no sources yet becomes an interface library, so dependants link either way.
function(bx_folder_library target)
    bx_folder_library_at(${target} ${CMAKE_CURRENT_SOURCE_DIR} ${ARGN})
endfunction()

# The same for a folder other than the current one.
function(bx_folder_library_at target dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${dir}/*.ui)
    list(FILTER sources EXCLUDE REGEX ".*/main\\.cpp$")
    set(has_cpp FALSE)
    foreach(s IN LISTS sources)
        if(s MATCHES "\\.cpp$")
            set(has_cpp TRUE)
        endif()
    endforeach()
    if(has_cpp)
        add_library(${target} STATIC ${sources})
        target_include_directories(${target} PUBLIC ${dir} ${CMAKE_SOURCE_DIR})
        target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${dir} ${CMAKE_SOURCE_DIR})
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# bx_folder_tests(LIBS <targets>...)
# Every tst_*.cpp in the folder is one QtTest executable and one CTest test, run headless.
# Sanitized builds run several times slower: the window tests get room for it.
# WebKit's script JIT, uninstrumented, crashes now and then in a sanitized program
# (1 run in 4 of the first capture tests) and never in a plain one: sanitized runs
# interpret scripts instead.
if(BRANTIX_SANITIZE)
    set(BX_TEST_TIMEOUT 900)
    set(BX_TEST_ENV "JSC_useJIT=false")
else()
    set(BX_TEST_TIMEOUT 300)
    set(BX_TEST_ENV "")
endif()

function(bx_folder_tests)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    string(REPLACE "/" "_" prefix "${rel}")
    foreach(t IN LISTS tests)
        get_filename_component(name ${t} NAME_WE)
        set(exe ${prefix}_${name})
        add_executable(${exe} ${t})
        target_link_libraries(${exe} PRIVATE Qt5::Test ${ARG_LIBS})
        target_compile_definitions(${exe} PRIVATE BX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" BX_BINARY_DIR="${CMAKE_BINARY_DIR}")
        add_test(NAME ${rel}/${name} COMMAND ${exe})
        set_tests_properties(${rel}/${name} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;${BX_TEST_ENV}"
            TIMEOUT ${BX_TEST_TIMEOUT})
    endforeach()
endfunction()

# bx_benchmark(<name> <source> LIBS <targets>...)
function(bx_benchmark name source)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# bx_fuzz_target(<name> <source> LIBS <targets>...)
# libFuzzer target; built only with BRANTIX_FUZZ under clang.
function(bx_fuzz_target name source)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    if(NOT BRANTIX_FUZZ)
        return()
    endif()
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()
