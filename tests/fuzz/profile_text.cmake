# libFuzzer target for the settings parsers (profile text, number reader), run for a fixed number
# of inputs grown from the INI corpus.
if(QV_FUZZ)
  add_executable(fuzz_profile_text ${CMAKE_CURRENT_LIST_DIR}/profile_text_fuzz.cpp)
  target_compile_options(fuzz_profile_text PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_profile_text PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_profile_text PRIVATE qv_engine qv_os_linux)
  # New inputs go to the build's own corpus folder (the first one named), never into the sources.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz-corpus/profile_text)
  add_test(NAME fuzz_profile_text
    COMMAND fuzz_profile_text -runs=200000 -seed=1 -max_len=4096
            ${CMAKE_BINARY_DIR}/fuzz-corpus/profile_text ${PROJECT_SOURCE_DIR}/tests/data/ini)
  set_tests_properties(fuzz_profile_text PROPERTIES LABELS fuzz)
endif()
