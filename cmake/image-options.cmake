# Compile and link options of a shipped Windows image: the programs, and the
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

# zeltrane_program(TARGET DESCRIPTION text SOURCES files... SHARES targets...
#                  LIBRARIES platform-libraries...): a shipped program,
# TARGET.exe, from its own sources and the shared code of common/ that it
# links (SHARES, in that order), with what every program carries: its
# manifest and version information (common/program.rc.in, configured with
# the program's name and description), the load configuration, and, in the
# 32-bit image only, the hand-over to the native build of 64-bit Windows.
# The host build makes TARGET_host instead, a library of the same sources
# for the unit tests, which link the fakes that define the platform functions.
function(zeltrane_program target)
  cmake_parse_arguments(PARSE_ARGV 1 program "" "DESCRIPTION" "SOURCES;SHARES;LIBRARIES")
  if(NOT WIN32)
    add_library(${target}_host STATIC ${program_SOURCES})
    target_include_directories(${target}_host PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}_host PRIVATE ${program_SHARES} common_handover)
    target_link_libraries(${target}_host PUBLIC common_last_error)
    return()
  endif()
  set(common_dir ${PROJECT_SOURCE_DIR}/common)
  set(description ${program_DESCRIPTION})
  # The manifest's assembly version has four fields.
  set(ZELTRANE_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  configure_file(${common_dir}/zeltrane.manifest.in zeltrane.manifest @ONLY)
  configure_file(${common_dir}/program.rc.in ${target}.rc @ONLY)
  set(resources ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  add_executable(${target} WIN32 ${program_SOURCES} ${resources})
  # The resource compiler's includes are not tracked: rebuild the resources
  # when the manifest changes.
  set_source_files_properties(${resources} PROPERTIES OBJECT_DEPENDS
    ${CMAKE_CURRENT_BINARY_DIR}/zeltrane.manifest)
  target_link_libraries(${target} PRIVATE ${program_SHARES} ${program_LIBRARIES})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_libraries(${target} PRIVATE common_handover)
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  zeltrane_image_options(${target})
  if(MSVC)
    # The manifest comes from the resources; the loader takes imported DLLs from System32 only.
    target_link_options(${target} PRIVATE /MANIFEST:NO /DEPENDENTLOADFLAG:0x800)
  else()
    target_link_libraries(${target} PRIVATE common_load_config)
  endif()
endfunction()
