# The Linux profile layer against Wine's real profile service, file by file over the INI corpus.
# The Windows side is a win64 build's probe, by default the one of the sibling win64 build; the
# test fails, saying so, when that probe is missing.
add_executable(profile_probe_native ${PROJECT_SOURCE_DIR}/tests/wine/profile_probe.cpp)
target_link_libraries(profile_probe_native PRIVATE qv_os_linux)
cmake_path(SET QV_SIBLING_WIN64_PROBE NORMALIZE ${CMAKE_BINARY_DIR}/../win64/bin/profile_probe.exe)
set(QV_WIN64_PROFILE_PROBE ${QV_SIBLING_WIN64_PROBE} CACHE FILEPATH
    "The win64 build's profile_probe.exe that the profile differential test runs under Wine")
qv_add_python_test(wine_profile_differential ${PROJECT_SOURCE_DIR}/tests/wine/profile_differential.py
  ARGS ${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh ${QV_WIN64_PROFILE_PROBE}
       $<TARGET_FILE:profile_probe_native> ${PROJECT_SOURCE_DIR}/tests/data/ini
       ${CMAKE_BINARY_DIR}/profile-differential
  PROPERTIES LABELS wine TIMEOUT 600)
