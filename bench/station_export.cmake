# Station configuration files of a 256-station network: export and read back.
bx_benchmark(bench_stationexport ${CMAKE_CURRENT_LIST_DIR}/bench_stationexport.cpp LIBS bx_design Qt5::Xml)
