# The posix thread model gives the standard library its std::mutex (GoogleTest needs it);
# everything links statically, so no winpthread or other MinGW runtime DLL is needed.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLET}-gcc-posix ${MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLET}-g++-posix ${MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLET}-windres REQUIRED)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine through the loader this machine can run (see tools/wine-bin/wine).
find_program(WINE_PROGRAM NAMES wine)
if(WINE_PROGRAM)
    get_filename_component(SNOOPSWEEP_WINE ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-bin/wine ABSOLUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SNOOPSWEEP_WINE})
endif()
