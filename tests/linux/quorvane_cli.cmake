# The quorvane command: options and exit codes, and its listing in a private network namespace
# (root) compared with ss; the socket holder comes from collector_e2e.cmake.
qv_add_python_test(quorvane_options ${CMAKE_CURRENT_LIST_DIR}/quorvane_cli.py
  ARGS options $<TARGET_FILE:quorvane> PROPERTIES LABELS cli)
qv_add_python_test(quorvane_namespace ${CMAKE_CURRENT_LIST_DIR}/quorvane_cli.py
  ARGS e2e $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
