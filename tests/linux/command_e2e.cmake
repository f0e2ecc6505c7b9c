# The quorvane command end to end in private network namespaces (root): its listings against ss,
# host names under a dead and a live DNS server, an odd program name, and --meter against the
# engine's own meter listing (meter_probe). The socket holder comes from collector_e2e.cmake.
add_executable(meter_probe ${CMAKE_CURRENT_LIST_DIR}/meter_probe.cpp)
target_link_libraries(meter_probe PRIVATE qv_engine qv_os_linux)
qv_add_python_test(command_e2e ${CMAKE_CURRENT_LIST_DIR}/command_e2e.py
  ARGS $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder> $<TARGET_FILE:meter_probe>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
