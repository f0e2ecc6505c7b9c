# libFuzzer target for the Linux layer's parsers (socket tables, fd links, DNS replies), run for a
# fixed number of inputs grown from captured tables.
if(QV_FUZZ)
  add_executable(fuzz_socket_tables ${CMAKE_CURRENT_LIST_DIR}/socket_tables_fuzz.cpp)
  target_compile_options(fuzz_socket_tables PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_socket_tables PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_socket_tables PRIVATE qv_os_linux)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz-corpus/socket_tables)
  add_test(NAME fuzz_socket_tables
    COMMAND fuzz_socket_tables -runs=200000 -seed=1 -max_len=4096
            ${CMAKE_BINARY_DIR}/fuzz-corpus/socket_tables ${PROJECT_SOURCE_DIR}/tests/data/socket_tables)
  set_tests_properties(fuzz_socket_tables PROPERTIES LABELS fuzz)
endif()
