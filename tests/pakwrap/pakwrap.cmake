# pakwrap: unit suites link the library; the command-line suite runs the binary.
add_executable(pakwrap_tests pakwrap/pakwrap_crc_test.cpp pakwrap/pakwrap_headers_test.cpp pakwrap/pakwrap_cli_test.cpp
               pakwrap/pakwrap_convert_test.cpp pakwrap/pakwrap_verify_test.cpp
               pakwrap/pakwrap_test_util.cpp common/run_process.cpp common/scratch_dir.cpp)
target_include_directories(pakwrap_tests PRIVATE common)
target_link_libraries(pakwrap_tests PRIVATE pakwrap_core GTest::gtest_main)
target_compile_definitions(pakwrap_tests PRIVATE PAKWRAP_BIN="$<TARGET_FILE:pakwrap>")
add_dependencies(pakwrap_tests pakwrap)
gtest_discover_tests(pakwrap_tests TEST_PREFIX "pakwrap." DISCOVERY_TIMEOUT 30)
