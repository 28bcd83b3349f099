# Cross toolchain: 64-bit Windows through MinGW-w64 (posix thread model). The
# product is the 32-bit build; this one runs the Windows tests on machines
# whose kernel cannot run 32-bit programs (cmake/wine-arch.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZETORA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${ZETORA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZETORA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZETORA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZETORA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows test programs run under Wine; ctest prepends this to every test command.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
