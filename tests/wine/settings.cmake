# Settings through the real profile service: awkward values loaded, saved, compared with a golden file.
qv_add_wine_test(settings
  COMMAND harness settings ${PROJECT_SOURCE_DIR}/tests/data/settings/awkward.ini
          ${CMAKE_BINARY_DIR}/settings-saved.ini
          ${PROJECT_SOURCE_DIR}/tests/data/settings/saved-expected.ini)
