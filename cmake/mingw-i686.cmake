# Cross-build for 32-bit Windows with Debian's mingw-w64; its tests run under
# 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HOLLIN_MINGW_PREFIX i686-w64-mingw32)
set(HOLLIN_WINE_RUN "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
