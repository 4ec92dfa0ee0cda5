# Module inspection (inspect/): its test DLLs, its tests under Wine and its benchmark. The
# sources themselves are in snoopsweep_win. Included by the top-level CMakeLists.txt in the
# Windows build, after test_support.

# ---- Test DLLs: no C runtime, an entry point that accepts every load, and for most a
# version resource. Built next to the tests, which load or read them from there. ----
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(INSPECT_DLL_ENTRY _DllEntry@12)
else()
    set(INSPECT_DLL_ENTRY DllEntry)
endif()

function(inspect_test_dll name)
    add_library(${name} SHARED ${CMAKE_SOURCE_DIR}/tests/win/dlls/dll_entry.cpp ${ARGN})
    set_target_properties(${name} PROPERTIES
        PREFIX ""
        RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
    target_link_options(${name} PRIVATE -nostdlib -Wl,-e,${INSPECT_DLL_ENTRY})
endfunction()

inspect_test_dll(inspect_plain)
set(INSPECT_TEST_DLLS inspect_plain)
# The version_truncated_* resources are raw blocks, cut short or lying about their lengths.
foreach(resource acme no_product two_tables no_translation truncated_header truncated_string
        truncated_name truncated_translation truncated_tiny truncated_terminator)
    inspect_test_dll(version_${resource} ${CMAKE_SOURCE_DIR}/tests/win/dlls/version_${resource}.rc)
    list(APPEND INSPECT_TEST_DLLS version_${resource})
endforeach()

# ---- The enumerator, the version reader and the autostart places, in process under Wine. ----
add_executable(inspect_tests
    ${CMAKE_SOURCE_DIR}/tests/win/autostart_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/win/module_enumerator_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/win/version_info_test.cpp
)
target_link_libraries(inspect_tests PRIVATE test_support gtest_main)
set_target_properties(inspect_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
add_dependencies(inspect_tests ${INSPECT_TEST_DLLS})
add_test(NAME ${CMAKE_SYSTEM_PROCESSOR}.inspect_tests COMMAND inspect_tests)
set_tests_properties(${CMAKE_SYSTEM_PROCESSOR}.inspect_tests PROPERTIES TIMEOUT 300)

# ---- Benchmark: walks of its own process, with the plain DLL beside it to copy. ----
set(INSPECT_BENCH_DIR ${CMAKE_BINARY_DIR}/benchmarks)
add_executable(module_walk_bench ${CMAKE_SOURCE_DIR}/benchmarks/module_walk_bench.cpp)
target_link_libraries(module_walk_bench PRIVATE snoopsweep_win)
set_target_properties(module_walk_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${INSPECT_BENCH_DIR})
add_custom_command(TARGET module_walk_bench POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:inspect_plain> ${INSPECT_BENCH_DIR}/
    VERBATIM)
add_dependencies(module_walk_bench inspect_plain)
