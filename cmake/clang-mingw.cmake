# Shared by the Windows toolchain files: clang for ZELTRANE_TRIPLE, linked by
# LLD in MinGW mode against Debian's mingw-w64 headers and msvcrt CRT.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${ZELTRANE_TRIPLE})
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${ZELTRANE_TRIPLE})
set(CMAKE_RC_COMPILER ${ZELTRANE_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZELTRANE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Debian keeps libgcc in a versioned folder (12-win32) that clang 14 does not
# find by itself: the cross GCC knows where it is.
execute_process(COMMAND ${ZELTRANE_TRIPLE}-gcc-win32 -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gcc_dir "${libgcc}" DIRECTORY)

# -fuse-ld=lld: LLD emits the load-configuration directory; -L: find libgcc;
# -static: no libgcc or pthread DLL; -nostdlib++: no C++ library at all.
# The same for the sandbox's DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir} -static -nostdlib++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
