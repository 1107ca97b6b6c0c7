# Windows on ARM: the same sources for ARM64 Windows, against the sysroot that
# scripts/arm64-sysroot builds from Debian's mingw-w64 and LLVM sources.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(ZELTRANE_TRIPLE aarch64-w64-mingw32)
set(ZELTRANE_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build/sysroot/${ZELTRANE_TRIPLE})
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
