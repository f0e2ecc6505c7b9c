# The engine and the Linux layer end to end: one pass in a private network namespace with a known
# socket set and a DNS server of its own, compared with what ss reports there. Needs root.
add_executable(collector_probe ${CMAKE_CURRENT_LIST_DIR}/collector_probe.cpp)
target_link_libraries(collector_probe PRIVATE qv_engine qv_os_linux)
add_executable(socket_holder ${CMAKE_CURRENT_LIST_DIR}/socket_holder.cpp)
qv_add_python_test(linux_collector_e2e ${CMAKE_CURRENT_LIST_DIR}/collector_e2e.py
  ARGS $<TARGET_FILE:collector_probe> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
