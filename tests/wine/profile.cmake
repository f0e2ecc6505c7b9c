# The system's own profile service behind the probe that the native differential test compares with.
add_executable(profile_probe ${CMAKE_CURRENT_LIST_DIR}/profile_probe.cpp
                             ${PROJECT_SOURCE_DIR}/src/os/win32/os_win32_profile.cpp)
target_include_directories(profile_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_options(profile_probe PRIVATE ${QV_STATIC_RUNTIME})
