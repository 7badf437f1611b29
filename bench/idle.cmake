# The main window left idle: CPU share over 10 s.
if(BRANTIX_USE_STANDINS)
    bx_benchmark(bench_idle ${CMAKE_CURRENT_LIST_DIR}/bench_idle.cpp LIBS bx_app bx_resources Qt5::Widgets)
endif()
