# What the Windows cross-builds share, given HOLLIN_MINGW_PREFIX (the
# mingw-w64 target) and HOLLIN_WINE_RUN (how ctest starts a Windows program).
# The -posix compilers carry the C++ thread support that GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${HOLLIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOLLIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HOLLIN_MINGW_PREFIX}-windres)
set(HOLLIN_WIDL ${HOLLIN_MINGW_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${HOLLIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${HOLLIN_WINE_RUN})
