# Compile and link options of a shipped Windows image: Zeltrane.exe, and the
# empty program that the image audit measures it against.
function(zeltrane_image_options target)
  if(MSVC)
    # A windowed program whose entry is wmain: for /SUBSYSTEM:WINDOWS the
    # linker would pick WinMainCRTStartup and want a WinMain.
    target_link_options(${target} PRIVATE /ENTRY:wmainCRTStartup)
    # Address space layout randomisation and no-execute data.
    target_link_options(${target} PRIVATE /DYNAMICBASE /NXCOMPAT)
    # Identical rebuilds: no time stamps in objects or image. Microsoft does
    # not document /Brepro, though its compiler and linker accept it.
    target_link_options(${target} PRIVATE /Brepro)
    target_compile_options(${target} PRIVATE /Brepro)
    return()
  endif()

  # Wide entry point wmain, called by the CRT's start-up with the split wide command line.
  target_compile_options(${target} PRIVATE -municode)
  target_link_options(${target} PRIVATE -municode)
  # The program needs no C++ runtime: no exceptions, no RTTI.
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # Only the CRT's wide start-up object: the driver would add GCC's crtbegin.o,
  # whose frame registration imports LoadLibraryA and GetProcAddress.
  target_link_options(${target} PRIVATE -nostartfiles)
  target_link_libraries(${target} PRIVATE ${CMAKE_FIND_ROOT_PATH}/lib/crt2u.o)
  # No symbol table in the shipped image.
  target_link_options(${target} PRIVATE -s)
  # Identical rebuilds: no link time in the header.
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  # Address space layout randomisation and no-execute data.
  target_link_options(${target} PRIVATE -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # 64-bit randomisation over the whole address space.
    target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
  endif()
endfunction()
