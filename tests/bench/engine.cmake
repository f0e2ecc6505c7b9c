# ListPorts on a full table against its floor (the fake platform), and the engine's resident
# memory over 10,000 passes with sockets opening and closing (the Linux layer, root).
add_executable(listing_bench ${CMAKE_CURRENT_LIST_DIR}/listing_bench.cpp)
target_link_libraries(listing_bench PRIVATE qv_plugin qv_engine qv_os_fake)
add_test(NAME bench_listing COMMAND listing_bench)
set_tests_properties(bench_listing PROPERTIES LABELS bench TIMEOUT 3600 RUN_SERIAL ON)

add_executable(memory_bench ${CMAKE_CURRENT_LIST_DIR}/memory_bench.cpp)
target_link_libraries(memory_bench PRIVATE qv_engine qv_os_linux)
qv_add_python_test(bench_memory ${CMAKE_CURRENT_LIST_DIR}/memory_bench.py
  ARGS $<TARGET_FILE:memory_bench> PROPERTIES LABELS bench TIMEOUT 3600 RUN_SERIAL ON)
