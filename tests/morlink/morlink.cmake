# morlink: the real binary against the simulated device on 127.0.0.1, and unit tests of
# the option parser, which link the library.
find_package(Threads REQUIRED)
find_program(MORLINK_MSGFMT msgfmt REQUIRED)

# A German catalogue planted by the tests where the sender must not look.
set(MORLINK_PLANTED_MO ${CMAKE_CURRENT_BINARY_DIR}/morlink_planted.mo)
add_custom_command(OUTPUT ${MORLINK_PLANTED_MO}
  COMMAND ${MORLINK_MSGFMT} --check -o ${MORLINK_PLANTED_MO} ${CMAKE_CURRENT_SOURCE_DIR}/morlink/morlink_planted.po
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/morlink/morlink_planted.po
  VERBATIM)
add_custom_target(morlink_test_catalogue DEPENDS ${MORLINK_PLANTED_MO})

# The simulated device as a program, for the demo and the benchmarks.
add_executable(simdevice common/simdevice_main.cpp common/sim_device.cpp)

add_executable(morlink_tests
  morlink/morlink_transfer_test.cpp morlink/morlink_failures_test.cpp morlink/morlink_options_test.cpp
  morlink/morlink_catalogue_test.cpp morlink/morlink_filter_test.cpp morlink/morlink_receive_test.cpp
  morlink/morlink_faults_test.cpp morlink/morlink_errors_test.cpp morlink/morlink_extensions_test.cpp
  morlink/morlink_record_test.cpp
  morlink/morlink_test_util.cpp morlink/morlink_talk.cpp morlink/morlink_serial_pty.cpp
  common/run_process.cpp common/scratch_dir.cpp common/sim_device.cpp)
target_include_directories(morlink_tests PRIVATE common morlink)
target_link_libraries(morlink_tests PRIVATE morlink_core GTest::gtest_main Threads::Threads util)
target_compile_definitions(morlink_tests PRIVATE
  MORLINK_BIN="$<TARGET_FILE:morlink>"
  SIMDEVICE_BIN="$<TARGET_FILE:simdevice>"
  MORLINK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  MORLINK_PLANTED_MO="${MORLINK_PLANTED_MO}")
add_dependencies(morlink_tests morlink simdevice morlink_test_catalogue)
gtest_discover_tests(morlink_tests TEST_PREFIX "morlink." DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 120)

# The serial link on pseudo-terminal pairs (never a real port).
add_executable(morlink_serial_tests
  morlink/morlink_serial_test.cpp morlink/morlink_serial_pty.cpp morlink/morlink_serial_speed.cpp
  morlink/morlink_test_util.cpp common/run_process.cpp common/scratch_dir.cpp)
target_include_directories(morlink_serial_tests PRIVATE common morlink)
target_link_libraries(morlink_serial_tests PRIVATE morlink_core GTest::gtest_main Threads::Threads util)
target_compile_definitions(morlink_serial_tests PRIVATE MORLINK_BIN="$<TARGET_FILE:morlink>")
add_dependencies(morlink_serial_tests morlink)
gtest_discover_tests(morlink_serial_tests TEST_PREFIX "morlink.serial." DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 120)

# The committed template holds every message of the sources, and the German
# catalogue translates every one of them.
find_program(MORLINK_XGETTEXT xgettext)
find_program(MORLINK_MSGCMP msgcmp)
if(MORLINK_XGETTEXT AND MORLINK_MSGCMP)
  add_test(NAME morlink.catalogue_complete
    COMMAND ${CMAKE_COMMAND}
      -DXGETTEXT=${MORLINK_XGETTEXT} -DMSGCMP=${MORLINK_MSGCMP}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/morlink/morlink_catalogue_check.cmake)
  add_test(NAME morlink.catalogue_subfolders
    COMMAND ${CMAKE_COMMAND}
      -DXGETTEXT=${MORLINK_XGETTEXT} -DMSGCMP=${MORLINK_MSGCMP}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}
      -DCHECK=${CMAKE_CURRENT_SOURCE_DIR}/morlink/morlink_catalogue_check.cmake
      -P ${CMAKE_CURRENT_SOURCE_DIR}/morlink/morlink_catalogue_subfolder.cmake)
endif()

# The port server link (-crfc2217://): its Telnet codec, and the real binary
# against port servers on 127.0.0.1 that drive pseudo-terminals.
add_executable(morlink_rfc2217_tests
  morlink/morlink_telnet_test.cpp morlink/morlink_rfc2217_test.cpp
  morlink/morlink_test_util.cpp morlink/morlink_serial_pty.cpp morlink/morlink_serial_speed.cpp common/run_process.cpp
  common/scratch_dir.cpp)
target_include_directories(morlink_rfc2217_tests PRIVATE common morlink)
target_link_libraries(morlink_rfc2217_tests PRIVATE morlink_core GTest::gtest_main Threads::Threads util)
target_compile_definitions(morlink_rfc2217_tests PRIVATE MORLINK_BIN="$<TARGET_FILE:morlink>"
                           MORLINK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(morlink_rfc2217_tests morlink)
gtest_discover_tests(morlink_rfc2217_tests TEST_PREFIX "morlink.rfc2217." DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 120)
