# The meter under load in a private network namespace (root): 30 seconds in the test command
# under the label load, which the ThreadSanitizer build runs; 5 minutes under the label soak.
add_executable(socket_churn ${CMAKE_CURRENT_LIST_DIR}/socket_churn.cpp)
# The churn is only the background: it need not carry a sanitizer's cost twenty times over.
target_compile_options(socket_churn PRIVATE -fno-sanitize=all)
target_link_options(socket_churn PRIVATE -fno-sanitize=all)
add_executable(load_meter ${CMAKE_CURRENT_LIST_DIR}/load_meter.cpp)
target_link_libraries(load_meter PRIVATE qv_plugin qv_engine qv_os_linux)

foreach(run IN ITEMS "load;30" "soak;300")
  list(GET run 0 label)
  list(GET run 1 seconds)
  # A small quarantine, so that AddressSanitizer's own hold on freed memory does not pass for growth.
  qv_add_python_test(meter_${label} ${CMAKE_CURRENT_LIST_DIR}/load.py
    ARGS ${seconds} $<TARGET_FILE:load_meter> $<TARGET_FILE:socket_churn>
    PROPERTIES LABELS ${label} RUN_SERIAL TRUE TIMEOUT 900
               ENVIRONMENT ASAN_OPTIONS=quarantine_size_mb=4:thread_local_quarantine_size_kb=64)
endforeach()
