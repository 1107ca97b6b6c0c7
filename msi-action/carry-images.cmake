# Copies the images of a native build that the custom action DLL carries into
# this build tree, each only where it changed, so that the DLL is made again
# exactly when one did; where one is missing, stops and names the commands
# that make it, in place of ninja's "missing and no known rule".
# usage: cmake -DPRESET=x64|arm64 -DFROM=NATIVE-BUILD -DTO=FOLDER -P carry-images.cmake
set(first "cmake --preset windows-${PRESET}")
if(PRESET STREQUAL "arm64")
  set(first "scripts/arm64-sysroot && ${first}")
endif()
foreach(program IN ITEMS Zeltrane ZeltraneRemove ZeltraneCreate)
  if(NOT EXISTS "${FROM}/${program}.exe")
    message(FATAL_ERROR "ZeltraneMsiAction.dll carries ${FROM}/${program}.exe, which is not "
            "built: in the source folder, run first\n  ${first} && cmake --build --preset "
            "windows-${PRESET} --target Zeltrane ZeltraneRemove ZeltraneCreate")
  endif()
  file(COPY_FILE "${FROM}/${program}.exe" "${TO}/${program}.exe" ONLY_IF_DIFFERENT)
endforeach()
