# Neutralisation (neutralise/): the rename's tests under Wine, with and without a restart, and
# its benchmark. The sources themselves are in snoopsweep_win. Included by the top-level
# CMakeLists.txt in the Windows build, after test_support and add_restart_test.

# hold_file.exe: another process that holds a file open without sharing.
add_executable(hold_file ${CMAKE_SOURCE_DIR}/tests/win/hold_file.cpp)
set_target_properties(hold_file PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})

add_executable(rename_tests ${CMAKE_SOURCE_DIR}/tests/win/move_file_test.cpp)
target_link_libraries(rename_tests PRIVATE test_support gtest_main)
set_target_properties(rename_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
add_dependencies(rename_tests hold_file)

# In the shared prefix; the tests that need a restart skip themselves here.
add_test(NAME ${CMAKE_SYSTEM_PROCESSOR}.rename_tests COMMAND rename_tests)
set_tests_properties(${CMAKE_SYSTEM_PROCESSOR}.rename_tests PROPERTIES TIMEOUT 300)

# The renames that a restart carries out.
add_restart_test(rename_restart_test rename_tests "restart files")

# ---- Benchmark: the WinInit.Ini edit of a large file against a plain memmove. ----
add_executable(wininit_bench ${CMAKE_SOURCE_DIR}/benchmarks/wininit_bench.cpp)
target_link_libraries(wininit_bench PRIVATE snoopsweep_win test_support)
set_target_properties(wininit_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/benchmarks)
