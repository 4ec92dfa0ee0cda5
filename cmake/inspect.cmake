# Module inspection (inspect/): sources for snoopsweep_win, Windows tests and the benchmark.
# Included by the top-level CMakeLists.txt in the Windows build, after test_support.
