# The command's socket table end to end: both sources against ss in a private network namespace
# with IPv4 and IPv6 sockets of every kind. Needs root.
add_executable(socket_table_probe ${CMAKE_CURRENT_LIST_DIR}/socket_table_probe.cpp)
target_link_libraries(socket_table_probe PRIVATE qv_os_linux)
qv_add_python_test(linux_socket_table_e2e ${CMAKE_CURRENT_LIST_DIR}/socket_table_e2e.py
  ARGS $<TARGET_FILE:socket_table_probe> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
