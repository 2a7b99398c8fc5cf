# Unit tests that need POSIX in the test code itself (signals, flock,
# syslog, symlinks, the process harness of tests/): not built for Windows,
# whose own layer platform_test_windows tests instead. The two pages that
# send to several clients tell them apart by loopback address, which Wine
# cannot: it binds every UDP socket on the loopback device to any address.
set(QUOR_POSIX_ONLY_TESTS
  event_sink_test file_system_posix_test service_host_test service_install_test
  server_lifecycle_test server_requests_test server_start_test live_api_test live_feed_test server_command_line_test
  absence_page_test message_send_page_test)

# quor_test(name SOURCES ... [DEPS ...] [LABELS ...])
# One gtest binary; each test case becomes its own ctest entry. Cross-built
# for Windows, the binary is one entry instead, run once under Wine by
# scripts/windows-run-test: a Wine start per case would cost more than the
# cases, and gtest's own summary decides, since a crash under Wine may still
# exit 0.
function(quor_test name)
  if(NOT QUOR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(Q "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(WIN32 AND name IN_LIST QUOR_POSIX_ONLY_TESTS)
    # Callers may still add dependencies to it.
    add_custom_target(${name})
    return()
  endif()
  add_executable(${name} ${Q_SOURCES})
  target_link_libraries(${name} PRIVATE ${Q_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(WIN32)
    # Test code builds without optimisation (it halves the cross build);
    # the libraries under test keep their release flags.
    target_compile_options(${name} PRIVATE -O0)
    add_test(NAME ${name}
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/windows-run-test $<TARGET_FILE:${name}> --gtest_color=no)
    set_tests_properties(${name} PROPERTIES LABELS "windows;${Q_LABELS}")
    if(NOT TARGET quor_windows_tests)
      add_custom_target(quor_windows_tests)
    endif()
    add_dependencies(quor_windows_tests ${name})
    return()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${Q_LABELS}"
    EXTRA_ARGS --gtest_color=no)
endfunction()

# quor_bench(name SOURCES ... [DEPS ...])
function(quor_bench name)
  if(NOT QUOR_BUILD_BENCH OR NOT benchmark_FOUND)
    return()
  endif()
  cmake_parse_arguments(Q "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  target_link_libraries(${name} PRIVATE ${Q_DEPS} benchmark::benchmark Threads::Threads)
endfunction()

# quor_directory(lib [EXCLUDE regex] [PUBLIC libs...] [PRIVATE libs...] [TEST_DEPS ...])
# Builds every source of the calling directory into the static library `lib`
# (tests, benchmarks, fuzz targets and main.cpp aside; *_posix / *_windows by
# platform) and every *_test.cpp into its own test binary linked against it.
# PUBLIC are the libraries its headers need, PRIVATE those only its sources
# need; the folder's layer (cmake/layers.cmake) must allow each of ours. Its
# headers are reachable as "<folder>/x.h" only by what links it.
function(quor_directory lib)
  cmake_parse_arguments(Q "" "EXCLUDE" "PUBLIC;PRIVATE;TEST_DEPS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  if(NOT lib STREQUAL "quor_${folder}")
    message(FATAL_ERROR "${folder}/ builds quor_${folder}, not ${lib}")
  endif()
  quor_layer_uses(${folder} allowed)
  if(NOT allowed)
    message(FATAL_ERROR "${folder}/ is no layer of cmake/layers.cmake")
  endif()
  foreach(dep ${Q_PUBLIC} ${Q_PRIVATE})
    if(dep MATCHES "^quor_(.*)$" AND NOT CMAKE_MATCH_1 IN_LIST allowed)
      message(FATAL_ERROR "${lib} may not use ${dep}: ${folder}/ is below ${CMAKE_MATCH_1}/ (cmake/layers.cmake)")
    endif()
  endforeach()

  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(Q_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${Q_EXCLUDE}")
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  list(FILTER srcs EXCLUDE REGEX "(_test|_bench|_fuzz|/main)\\.cpp$")
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  add_library(${lib} STATIC ${srcs})
  target_link_libraries(${lib} PUBLIC ${Q_PUBLIC} Threads::Threads PRIVATE ${Q_PRIVATE})
  # An include root holding this folder alone (a link to it), so that
  # "<folder>/x.h" resolves for this library and what links it, and for
  # nothing else.
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  target_include_directories(${lib} PUBLIC ${root})
  foreach(t ${tests})
    get_filename_component(tn ${t} NAME_WE)
    quor_test(${tn} SOURCES ${t} DEPS ${lib} ${Q_PRIVATE} ${Q_TEST_DEPS})
  endforeach()
endfunction()
