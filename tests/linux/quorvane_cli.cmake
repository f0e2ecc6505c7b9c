# The quorvane command: options and exit codes, and its listing in a private network namespace.
add_executable(socket_owner ${CMAKE_CURRENT_LIST_DIR}/socket_owner.cpp)

add_test(NAME quorvane_options
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/quorvane_cli.py options $<TARGET_FILE:quorvane>)
set_tests_properties(quorvane_options PROPERTIES LABELS cli)

add_test(NAME quorvane_namespace
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/quorvane_cli.py e2e $<TARGET_FILE:quorvane>
                 $<TARGET_FILE:socket_owner>)
set_tests_properties(quorvane_namespace PROPERTIES LABELS linux-e2e RUN_SERIAL TRUE)
