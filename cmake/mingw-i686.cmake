# Cross-build for 32-bit Windows with Debian's mingw-w64. The -posix compilers
# carry the C++ thread support that GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(HOLLIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${HOLLIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOLLIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HOLLIN_MINGW_PREFIX}-windres)
set(HOLLIN_WIDL ${HOLLIN_MINGW_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${HOLLIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
