# The parts of the Windows build that are plain C++ run here too: the reader
# of compiled catalogues that stands in for libintl there.
if(TARGET morlink_catalogues)
  add_executable(windows_mo_tests windows/windows_mo_test.cpp ${PROJECT_SOURCE_DIR}/code/win32/mo_catalogue.cpp)
  target_include_directories(windows_mo_tests PRIVATE ${PROJECT_SOURCE_DIR}/code/win32)
  target_link_libraries(windows_mo_tests PRIVATE GTest::gtest_main)
  target_compile_definitions(windows_mo_tests PRIVATE
    MORLINK_DE_MO="${CMAKE_BINARY_DIR}/code/de/LC_MESSAGES/morlink.mo")
  add_dependencies(windows_mo_tests morlink_catalogues)
  gtest_discover_tests(windows_mo_tests TEST_PREFIX "windows." DISCOVERY_TIMEOUT 30)
endif()
