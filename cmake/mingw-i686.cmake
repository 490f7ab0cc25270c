# Cross-compiles for 32-bit Windows with MinGW-w64 and runs the test
# executables under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOLVANE_MINGW_TRIPLET i686-w64-mingw32)
set(TOLVANE_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
