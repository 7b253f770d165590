# The shipped Launcher.exe: 32-bit Windows (PE32, i686).
set(LAUNCHER_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
