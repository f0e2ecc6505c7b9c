# Settings through the real profile service: awkward values loaded, saved, compared with a golden file.
add_test(NAME wine_settings
  COMMAND harness settings ${PROJECT_SOURCE_DIR}/tests/data/settings/awkward.ini
          ${CMAKE_BINARY_DIR}/settings-saved.ini
          ${PROJECT_SOURCE_DIR}/tests/data/settings/saved-expected.ini
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(wine_settings PROPERTIES LABELS wine)
