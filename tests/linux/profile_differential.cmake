# The Linux profile layer against Wine's real profile service, file by file over the INI corpus.
# The Windows side is the win64 build's probe; the test fails when that build is missing.
add_executable(profile_probe_native ${PROJECT_SOURCE_DIR}/tests/wine/profile_probe.cpp)
target_link_libraries(profile_probe_native PRIVATE qv_os_linux)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME wine_profile_differential
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/wine/profile_differential.py
          ${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh
          ${PROJECT_SOURCE_DIR}/build/win64/bin/profile_probe.exe
          $<TARGET_FILE:profile_probe_native>
          ${PROJECT_SOURCE_DIR}/tests/data/ini
          ${CMAKE_BINARY_DIR}/profile-differential)
set_tests_properties(wine_profile_differential PROPERTIES LABELS wine TIMEOUT 600)
