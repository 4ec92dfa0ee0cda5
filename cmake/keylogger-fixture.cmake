# Test keyloggers (tests/e2e/fixture/): hook DLLs, the program that installs a global
# keyboard hook from one, and a support library for tests that use them.
# Included by the top-level CMakeLists.txt in the Windows build, after test_support.
