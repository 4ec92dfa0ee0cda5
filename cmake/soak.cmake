# The soak: the real program under Wine with a keylogger loaded and "Analizza" pressed once
# a second, its handles, GDI and USER objects and private bytes compared from start to end.
# Run by tools/soak.sh, never by ctest: it takes minutes. Included by the top-level
# CMakeLists.txt in the Windows build, after the keylogger fixture.
add_executable(soak tests/e2e/soak.cpp tests/e2e/program.cpp)
target_link_libraries(soak PRIVATE keylogger_support test_support psapi)
# Beside the test programs, whose fixture DLLs and installer it uses.
set_target_properties(soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
add_dependencies(soak Snoopsweep keylogger_fixture)
