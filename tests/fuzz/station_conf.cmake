# Station configuration files of any content through the reader the simulated boards use.
bx_fuzz_target(fuzz_station_conf ${CMAKE_CURRENT_LIST_DIR}/fuzz_station_conf.cpp LIBS bx_design Qt5::Xml)
# Projects of any content exported station by station.
bx_fuzz_target(fuzz_station_export ${CMAKE_CURRENT_LIST_DIR}/fuzz_station_export.cpp LIBS bx_design Qt5::Widgets Qt5::Xml)
