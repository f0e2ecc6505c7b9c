# The plug-in's description exports, loaded by name under Wine.
add_test(NAME wine_describe COMMAND harness describe WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(wine_describe PROPERTIES LABELS wine)
