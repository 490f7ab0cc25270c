# Cross-compiles for 64-bit Windows with MinGW-w64 and runs the test
# executables under the 64-bit Wine, called directly: Debian's wine wrapper
# always takes the 32-bit loader when it is installed.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOLVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(TOLVANE_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
