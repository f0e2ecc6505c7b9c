# The quorvane command: options and exit codes, and its listing in a private network namespace
# (root) compared with ss; the socket holder comes from collector_e2e.cmake.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME quorvane_options
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/quorvane_cli.py options
          $<TARGET_FILE:quorvane>)
set_tests_properties(quorvane_options PROPERTIES LABELS cli)
add_test(NAME quorvane_namespace
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/quorvane_cli.py e2e
          $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>)
set_tests_properties(quorvane_namespace PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
