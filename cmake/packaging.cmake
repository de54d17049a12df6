# packaging.cmake: the libraries in their installed form. Each static library
# of the tree (the one the tool and the tests link) is built
# position-independent and gets a shared twin linked from the same objects,
# so both come out of one build without compiling anything twice. With
# TUNECAST_INSTALL, `cmake --install` puts the headers, both kinds of
# library, the tool, a CMake package, a pkg-config file, the manual, the
# shell completions and the notes under the prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# An ABI may change with every minor release while the major version is 0.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(tunecast_soversion ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  set(tunecast_compatibility SameMinorVersion)
else()
  set(tunecast_soversion ${PROJECT_VERSION_MAJOR})
  set(tunecast_compatibility SameMajorVersion)
endif()

# The C++ runtime libraries that a C compiler does not link by itself (the
# C++ compiler's implicit libraries less the C compiler's): a C program
# linking the static libraries needs them.
set(tunecast_cxx_runtime ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_ITEM tunecast_cxx_runtime ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_DUPLICATES tunecast_cxx_runtime)

# tunecast_library(<static target> EXPORT_NAME <name> [STATIC_ONLY]
#                   [SHARED_LINK <item>...])
# Makes <static target> position-independent and adds <static target>_shared
# (same output name, same objects, linked with SHARED_LINK: the shared twins
# of the libraries the static one links, and the objects of internal ones).
# The targets are exported as tunecast::<name> and tunecast::<name>_shared.
# A STATIC_ONLY library has no public header, so no shared twin: the shared
# libraries that use it take in its objects.
function(tunecast_library static_target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STATIC_ONLY" "EXPORT_NAME" "SHARED_LINK")
  set(shared_target ${static_target}_shared)
  # No interposition of the libraries' own functions: calls inside a library
  # may be inlined as they are without -fPIC (the weak lock hooks stay
  # replaceable). It changes no arithmetic.
  target_compile_options(${static_target} PRIVATE -fno-semantic-interposition)
  # Only the names marked TUNECAST_API in include/tunecast/ leave a shared
  # library (and cmake/public_names.map keeps out what the C++ headers force
  # public); the internal C++ stays inside, where no program can replace it.
  set_target_properties(${static_target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    EXPORT_NAME ${arg_EXPORT_NAME})
  # A program linked by the C compiler (a C-only project) gets the runtime.
  foreach(runtime_lib IN LISTS tunecast_cxx_runtime)
    target_link_libraries(${static_target} INTERFACE $<$<LINK_LANGUAGE:C>:${runtime_lib}>)
  endforeach()
  if(arg_STATIC_ONLY)
    return()
  endif()

  if(WIN32)
    # A DLL exports what its objects mark dllexport, and the static
    # library's objects must not carry the mark (a program linking them
    # would export the names itself): the DLL compiles the sources again.
    get_target_property(sources ${static_target} SOURCES)
    add_library(${shared_target} SHARED ${sources})
    target_compile_definitions(${shared_target} PRIVATE TUNECAST_BUILDING_DLL)
    target_include_directories(${shared_target} PRIVATE
      $<TARGET_PROPERTY:${static_target},INCLUDE_DIRECTORIES>)
  else()
    add_library(${shared_target} SHARED $<TARGET_OBJECTS:${static_target}>)
    add_dependencies(${shared_target} ${static_target})
  endif()
  target_include_directories(${shared_target} INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>)
  target_link_libraries(${shared_target} PRIVATE ${arg_SHARED_LINK})
  # Every symbol resolved at link time, so the library names all it needs
  # (not under a sanitizer, whose runtime comes with the program); its
  # sibling libraries are found next to it, wherever the prefix moves.
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(${shared_target} PRIVATE -Wl,--no-undefined)
  endif()
  if(NOT WIN32)
    target_link_options(${shared_target} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/public_names.map)
    set_property(TARGET ${shared_target} APPEND PROPERTY
      LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/public_names.map)
  endif()
  set_target_properties(${shared_target} PROPERTIES
    OUTPUT_NAME ${static_target}
    LINKER_LANGUAGE CXX
    VERSION ${PROJECT_VERSION}
    SOVERSION ${tunecast_soversion}
    INSTALL_RPATH "$ORIGIN"
    EXPORT_NAME ${arg_EXPORT_NAME}_shared)
  add_library(tunecast::${arg_EXPORT_NAME}_shared ALIAS ${shared_target})
endfunction()

tunecast_library(tunecast_midi EXPORT_NAME midi STATIC_ONLY)
tunecast_library(tunecast_maths EXPORT_NAME maths STATIC_ONLY)
tunecast_library(tunecast_synth EXPORT_NAME synth SHARED_LINK m $<BUILD_INTERFACE:tunecast_midi>
  $<BUILD_INTERFACE:tunecast_maths> $<$<BOOL:${WIN32}>:$<BUILD_INTERFACE:tunecast_common>>)
# The facade calls the instance's internal C++, which the synth library does
# not export: its shared twin holds every synth object too, and so offers the
# whole handle API beside the I_* one. A program links one of the two.
tunecast_library(tunecast_chip EXPORT_NAME chip SHARED_LINK m $<BUILD_INTERFACE:tunecast_midi>
  $<BUILD_INTERFACE:tunecast_maths> $<$<BOOL:${WIN32}>:$<BUILD_INTERFACE:tunecast_common>>)
if(WIN32)
  get_target_property(synth_sources tunecast_synth SOURCES)
  target_sources(tunecast_chip_shared PRIVATE ${synth_sources})
else()
  target_sources(tunecast_chip_shared PRIVATE $<TARGET_OBJECTS:tunecast_synth>)
endif()
tunecast_library(tunecast_wad EXPORT_NAME wad SHARED_LINK $<BUILD_INTERFACE:tunecast_common> ZLIB::ZLIB)

if(NOT TUNECAST_INSTALL)
  return()
endif()

set(tunecast_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tunecast)

install(FILES include/tunecast/synth.h include/tunecast/chip.h include/tunecast/wad.h
              include/tunecast/export.h
              ${PROJECT_BINARY_DIR}/include/tunecast/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tunecast)
install(TARGETS tunecast_synth tunecast_chip tunecast_wad tunecast_midi tunecast_maths
                tunecast_synth_shared tunecast_chip_shared tunecast_wad_shared
        EXPORT tunecast-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tunecast RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The licence travels with the binaries it covers; the notes beside it.
install(FILES LICENSE README.md docs/engine-guide.md docs/design.md docs/developing.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The manual: Spanish, the console's language, where man looks by default;
# English where man looks for an English locale. The shell completions where
# bash-completion and zsh look for a package's own.
install(FILES man/tunecast.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES man/en/tunecast.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/en/man1)
install(FILES completions/tunecast.bash RENAME tunecast
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES completions/_tunecast DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(EXPORT tunecast-targets NAMESPACE tunecast:: DESTINATION ${tunecast_cmake_dir})

configure_package_config_file(cmake/tunecast-config.cmake.in
  ${PROJECT_BINARY_DIR}/tunecast-config.cmake INSTALL_DESTINATION ${tunecast_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tunecast-config-version.cmake
  COMPATIBILITY ${tunecast_compatibility})
install(FILES ${PROJECT_BINARY_DIR}/tunecast-config.cmake
              ${PROJECT_BINARY_DIR}/tunecast-config-version.cmake
        DESTINATION ${tunecast_cmake_dir})

# pkg-config: the prefix is worked out from where the file lies, so the tree
# still works when installed with `cmake --install --prefix` elsewhere. A
# static link also needs the C++ runtime.
set(tunecast_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${tunecast_pc_dir})
  message(FATAL_ERROR "tunecast.pc needs a relative CMAKE_INSTALL_LIBDIR")
endif()
file(RELATIVE_PATH TUNECAST_PC_PREFIX /prefix/${tunecast_pc_dir} /prefix)
string(REGEX REPLACE "/$" "" TUNECAST_PC_PREFIX "${TUNECAST_PC_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
    set(TUNECAST_PC_${dir} ${CMAKE_INSTALL_${dir}})
  else()
    set(TUNECAST_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(tunecast_runtime ${tunecast_cxx_runtime} m)  # and the synthesizer's maths
list(REMOVE_DUPLICATES tunecast_runtime)
list(TRANSFORM tunecast_runtime PREPEND -l)
list(JOIN tunecast_runtime " " TUNECAST_PC_PRIVATE_LIBS)
configure_file(cmake/tunecast.pc.in ${PROJECT_BINARY_DIR}/tunecast.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tunecast.pc DESTINATION ${tunecast_pc_dir})
