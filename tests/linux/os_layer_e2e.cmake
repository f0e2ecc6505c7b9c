# The Linux layer of the command end to end, in private network namespaces (root): its socket
# table against ss, and its parallel reverse queries against real DNS servers.
add_executable(socket_table_probe ${CMAKE_CURRENT_LIST_DIR}/socket_table_probe.cpp)
target_link_libraries(socket_table_probe PRIVATE qv_os_linux)
qv_add_python_test(linux_socket_table_e2e ${CMAKE_CURRENT_LIST_DIR}/socket_table_e2e.py
  ARGS $<TARGET_FILE:socket_table_probe> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)

# Parallel reverse queries through the real resolver: dnsmasq answering, a server that never does.
add_executable(ptr_names_probe ${CMAKE_CURRENT_LIST_DIR}/ptr_names_probe.cpp)
target_link_libraries(ptr_names_probe PRIVATE qv_os_linux)
qv_add_python_test(linux_ptr_names_e2e ${CMAKE_CURRENT_LIST_DIR}/ptr_names_e2e.py
  ARGS $<TARGET_FILE:ptr_names_probe>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
