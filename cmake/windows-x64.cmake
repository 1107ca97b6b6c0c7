# The twin: the same sources for x86-64 Windows, which Wine runs natively here.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZELTRANE_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
