# Settings exports on odd settings files through the real profile service.
add_test(NAME wine_odd_settings COMMAND harness odd-settings
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(wine_odd_settings PROPERTIES LABELS wine)
