# The quorvane command's table, filters and summary in a private network namespace (root),
# compared with ss; the socket holder comes from collector_e2e.cmake.
qv_add_python_test(quorvane_views ${CMAKE_CURRENT_LIST_DIR}/quorvane_views.py
  ARGS $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
