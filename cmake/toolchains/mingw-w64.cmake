# Shared by the mingw-w64 toolchains: set CHARSIFT_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)
# The win32 thread model: its runtime uses kernel32 alone, where the posix
# model's winpthreads would bring imports newer than the oldest Windows the
# modules serve, a vectored exception handler and TLS callbacks into the
# host's process. GCC 12 has no std::thread or std::mutex in this model.
set(CMAKE_C_COMPILER ${CHARSIFT_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${CHARSIFT_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${CHARSIFT_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CHARSIFT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run)
