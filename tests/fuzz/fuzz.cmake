# libFuzzer targets, one per parser or text builder. Each runs for QV_FUZZ_SECONDS in the test
# command on a fresh copy of its seed corpus (tests/fuzz/corpus/<target>/ unless SEEDS names
# another folder), so that the inputs it grows stay in the build folder.
if(QV_FUZZ)
  set(QV_FUZZ_SECONDS 30 CACHE STRING "How long each fuzz target runs under ctest")
  # Coverage feedback from the code under test, not only from the harnesses.
  foreach(library qv_plugin qv_engine qv_os_fake qv_os_linux)
    target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()

  # qv_fuzz_target(NAME [SEEDS folder] [LIBRARIES ...]): NAME_fuzz.cpp against the engine and
  # the fake platform unless other libraries are named.
  function(qv_fuzz_target name)
    cmake_parse_arguments(PARSE_ARGV 1 FUZZ "" "SEEDS" "LIBRARIES")
    if(NOT FUZZ_SEEDS)
      set(FUZZ_SEEDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/corpus/${name})
    endif()
    if(NOT FUZZ_LIBRARIES)
      set(FUZZ_LIBRARIES qv_plugin qv_engine qv_os_fake)
    endif()
    add_executable(fuzz_${name} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}_fuzz.cpp)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${FUZZ_LIBRARIES})
    add_test(NAME fuzz_${name}
      COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run-fuzzer.sh $<TARGET_FILE:fuzz_${name}>
              ${FUZZ_SEEDS} ${CMAKE_BINARY_DIR}/fuzz-work/${name} ${QV_FUZZ_SECONDS} -max_len=4096
              -dict=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/quorvane.dict)
    set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz)
  endfunction()

  qv_fuzz_target(number_reader)
  qv_fuzz_target(profile_text)
  qv_fuzz_target(template_expansion)
  qv_fuzz_target(reverse_query_name)
  qv_fuzz_target(address_field_text)
  qv_fuzz_target(socket_tables SEEDS ${PROJECT_SOURCE_DIR}/tests/data/socket_tables
                 LIBRARIES qv_os_linux)
endif()
