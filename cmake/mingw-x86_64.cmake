# Cross-build for 64-bit Windows with Debian's mingw-w64, beside the 32-bit
# build from the same source; its tests run under 64-bit Wine, in a prefix of
# their own.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HOLLIN_MINGW_PREFIX x86_64-w64-mingw32)
set(HOLLIN_WINE_RUN --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
