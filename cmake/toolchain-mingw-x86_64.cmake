# The same sources for 64-bit Windows: used to run the tests on machines that
# cannot execute 32-bit processes (see README).
set(LAUNCHER_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
