# tunecast_optional_package(NAME MODULE m PREFIX p LIBRARY l DEBIAN d DOC doc WITHOUT w)
# An optional library found through pkg-config module m. The cache variable
# TUNECAST_<NAME> is AUTO (use it when found), ON (fail without it) or OFF
# (never); TUNECAST_HAVE_<NAME> says whether it is used, and then the
# imported target PkgConfig::<p> links it. l names the library and d its
# Debian package in the messages; w says what the build does without it.
function(tunecast_optional_package name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MODULE;PREFIX;LIBRARY;DEBIAN;DOC;WITHOUT" "")
  set(TUNECAST_${name} AUTO CACHE STRING "${arg_DOC}: AUTO, ON or OFF")
  set_property(CACHE TUNECAST_${name} PROPERTY STRINGS AUTO ON OFF)
  string(TOUPPER "${TUNECAST_${name}}" mode)
  set(found OFF)
  if(NOT mode STREQUAL "OFF")
    find_package(PkgConfig)
    if(PkgConfig_FOUND)
      pkg_check_modules(${arg_PREFIX} IMPORTED_TARGET ${arg_MODULE})
    endif()
    if(${arg_PREFIX}_FOUND)
      set(found ON)
    elseif(mode STREQUAL "ON")
      message(FATAL_ERROR
        "TUNECAST_${name}=ON but ${arg_LIBRARY} was not found (Debian: ${arg_DEBIAN})")
    else()
      message(STATUS "${arg_LIBRARY} not found: ${arg_WITHOUT} (Debian: ${arg_DEBIAN})")
    endif()
  endif()
  set(TUNECAST_HAVE_${name} ${found} PARENT_SCOPE)
endfunction()

# tunecast_use_headers(TARGET SCOPE LIBRARY): TARGET compiles against the
# headers and flags of the imported LIBRARY without linking it, for a
# library the tool loads itself at run time, only when a run needs it.
function(tunecast_use_headers target scope library)
  target_include_directories(${target} SYSTEM ${scope}
    $<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_options(${target} ${scope}
    $<TARGET_PROPERTY:${library},INTERFACE_COMPILE_OPTIONS>)
endfunction()
