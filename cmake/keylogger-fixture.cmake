# Test keyloggers (tests/e2e/fixture/): hook DLLs, the program that installs a global
# keyboard hook from one, and a support library for tests that use them.
# Included by the top-level CMakeLists.txt in the Windows build, after test_support.
#
# Tests that plant hooks link keylogger_support, which builds the whole fixture first; the
# DLLs and hook_installer.exe land next to the test programs, in ${WIN_TEST_DIR}.

set(KBHOOK_SOURCE ${CMAKE_SOURCE_DIR}/tests/e2e/fixture/kbhook.cpp)

# One hook DLL, ${name}.dll, from the common source and the given resource scripts. Its one
# export KbProc keeps its plain name in both bitnesses (--kill-at drops the x86 "@12").
function(add_kbhook name)
    add_library(${name} SHARED ${KBHOOK_SOURCE} ${ARGN})
    set_target_properties(${name} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
    target_link_options(${name} PRIVATE -Wl,--kill-at -s)
    set(KEYLOGGER_FIXTURE_TARGETS ${KEYLOGGER_FIXTURE_TARGETS} ${name} PARENT_SCOPE)
endfunction()

set(KEYLOGGER_FIXTURE_TARGETS)
add_kbhook(kbhook_plain)
add_kbhook(kbhook_ms ${CMAKE_SOURCE_DIR}/tests/e2e/fixture/kbhook_ms.rc)

# hook_installer.exe plants a hook from one of them; key_reader.exe is a window that reads
# keys, so that the DLL has a process to go into that the test can end. key_spy.exe reads keys
# without a DLL (a low-level hook, a poller, a hotkey grabber) or looks like it does.
foreach(program hook_installer key_reader key_spy)
    add_executable(${program} tests/e2e/fixture/${program}.cpp)
    target_include_directories(${program} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_options(${program} PRIVATE -s)
    set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
    list(APPEND KEYLOGGER_FIXTURE_TARGETS ${program})
endforeach()

# key_spy_ms.exe: key_spy.exe with the version resource of kbhook_ms.dll, a program whose
# vendor the trust rules pass.
add_executable(key_spy_ms tests/e2e/fixture/key_spy.cpp tests/e2e/fixture/kbhook_ms.rc)
target_include_directories(key_spy_ms PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(key_spy_ms PRIVATE -s)
set_target_properties(key_spy_ms PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
list(APPEND KEYLOGGER_FIXTURE_TARGETS key_spy_ms)

add_custom_target(keylogger_fixture)
add_dependencies(keylogger_fixture ${KEYLOGGER_FIXTURE_TARGETS})

add_library(keylogger_support STATIC tests/e2e/keylogger.cpp)
target_link_libraries(keylogger_support PUBLIC test_support)
add_dependencies(keylogger_support keylogger_fixture)

# The fixture itself, proved under Wine for this build's bitness.
add_executable(fixture_tests tests/e2e/keylogger_fixture_test.cpp)
target_link_libraries(fixture_tests PRIVATE keylogger_support gtest_main)
set_target_properties(fixture_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WIN_TEST_DIR})
add_dependencies(fixture_tests ${KEYLOGGER_FIXTURE_TARGETS})
add_test(NAME ${CMAKE_SYSTEM_PROCESSOR}.fixture_tests COMMAND fixture_tests)
set_tests_properties(${CMAKE_SYSTEM_PROCESSOR}.fixture_tests PROPERTIES TIMEOUT 300)
