# Mnemonic values decoded during a capture, and the graph refresh at growing histories.
bx_benchmark(bench_mnemonics ${CMAKE_CURRENT_LIST_DIR}/bench_mnemonics.cpp
    LIBS bx_analysis bx_platform_capture bx_resources Qt5::WebKitWidgets)
