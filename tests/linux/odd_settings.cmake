# The settings exports on awkward settings files, through the real Linux settings file layer.
add_executable(odd_settings_tests ${CMAKE_CURRENT_LIST_DIR}/odd_settings_test.cpp)
target_link_libraries(odd_settings_tests PRIVATE qv_plugin qv_engine qv_os_linux GTest::gtest_main)
gtest_discover_tests(odd_settings_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS linux-e2e)
