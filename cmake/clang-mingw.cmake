# Shared by the Windows toolchain files: clang for ZELTRANE_TRIPLE, linked by
# LLD in MinGW mode against mingw-w64's headers and msvcrt CRT: Debian's for
# x86 and x64, the sysroot ZELTRANE_SYSROOT for ARM64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${ZELTRANE_TRIPLE})
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${ZELTRANE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

if(ZELTRANE_SYSROOT)
  # No cross GCC for this target: the sysroot holds the CRT, the import
  # libraries and clang's own runtime, compiler-rt's builtins.
  set(CMAKE_SYSROOT ${ZELTRANE_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH ${ZELTRANE_SYSROOT})
  set(CMAKE_RC_COMPILER llvm-windres-14)
  set(CMAKE_RC_FLAGS_INIT "--target=${ZELTRANE_TRIPLE} -I${ZELTRANE_SYSROOT}/include")
  # -nodefaultlibs: clang's MinGW driver would ask for libgcc. After the
  # objects come the libraries it links otherwise, the builtins in libgcc's place.
  set(runtime -nodefaultlibs)
  set(libraries "-lmingw32 ${ZELTRANE_SYSROOT}/lib/libclang_rt.builtins-aarch64.a -lmoldname")
  string(APPEND libraries " -lmingwex -lmsvcrt -ladvapi32 -lshell32 -luser32 -lkernel32")
  set(CMAKE_C_STANDARD_LIBRARIES "${libraries}" CACHE STRING "Libraries of every C link")
  set(CMAKE_CXX_STANDARD_LIBRARIES "${libraries}" CACHE STRING "Libraries of every C++ link")
else()
  set(CMAKE_RC_COMPILER ${ZELTRANE_TRIPLE}-windres)
  set(CMAKE_FIND_ROOT_PATH /usr/${ZELTRANE_TRIPLE})
  # Debian keeps libgcc in a versioned folder (12-win32) that clang 14 does not
  # find by itself: the cross GCC knows where it is.
  execute_process(COMMAND ${ZELTRANE_TRIPLE}-gcc-win32 -print-libgcc-file-name
                  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  get_filename_component(gcc_dir "${libgcc}" DIRECTORY)
  set(runtime "-L${gcc_dir}")
endif()

# -fuse-ld=lld: LLD emits the load-configuration directory; runtime: the
# compiler's runtime library; -static: no libgcc or pthread DLL; -nostdlib++:
# no C++ library at all. The same for the sandbox's DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld ${runtime} -static -nostdlib++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
