# translations.cmake: the console in the user's language. po/LINGUAS names
# the languages; each po/LANG.po is compiled by msgfmt into the build tree's
# locale/LANG/LC_MESSAGES/tunecast.mo (where the tool finds it when run from
# the build tree) and installed under CMAKE_INSTALL_LOCALEDIR. The target
# pot regenerates po/tunecast.pot from the tool's sources, and po-update
# merges it into each po/LANG.po. Windows has no gettext, and a build
# without msgfmt has no catalogs: the tool then speaks Spanish only.
# TUNECAST_HAVE_GETTEXT says whether the catalogs are built.
include(GNUInstallDirs)

set(TUNECAST_TRANSLATIONS AUTO CACHE STRING
    "The console in the user's language through gettext: AUTO, ON or OFF")
set_property(CACHE TUNECAST_TRANSLATIONS PROPERTY STRINGS AUTO ON OFF)
string(TOUPPER "${TUNECAST_TRANSLATIONS}" tunecast_translations_mode)

set(TUNECAST_HAVE_GETTEXT OFF)
if(WIN32 AND tunecast_translations_mode STREQUAL "ON")
  message(FATAL_ERROR "TUNECAST_TRANSLATIONS=ON but Windows builds have no gettext")
elseif(WIN32)
  message(STATUS "Windows has no gettext: the tool speaks Spanish only")
elseif(NOT tunecast_translations_mode STREQUAL "OFF")
  find_program(TUNECAST_MSGFMT msgfmt)
  find_program(TUNECAST_XGETTEXT xgettext)
  find_program(TUNECAST_MSGCMP msgcmp)
  find_program(TUNECAST_MSGMERGE msgmerge)
  if(TUNECAST_MSGFMT)
    set(TUNECAST_HAVE_GETTEXT ON)
  elseif(tunecast_translations_mode STREQUAL "ON")
    message(FATAL_ERROR "TUNECAST_TRANSLATIONS=ON but msgfmt was not found (Debian: gettext)")
  else()
    message(STATUS "msgfmt not found: the tool speaks Spanish only (Debian: gettext)")
  endif()
endif()

# The sources whose messages the catalogs hold: the tool's tr() calls, the
# WAD reader's lines (the formats of wad_logf and of image.cpp's fail, the
# texts of wad_text), which the tool has it translate, and the system's
# reasons (errno values) that both quote.
file(GLOB tunecast_message_sources RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/src/tool/*.cpp ${PROJECT_SOURCE_DIR}/src/wad/*.cpp)
list(SORT tunecast_message_sources)
list(APPEND tunecast_message_sources src/common/system_text.cpp)
set(tunecast_xgettext_args --language=C++ --keyword= --keyword=tr --keyword=catalog_text
    --keyword=wad_logf:2 --keyword=wad_text --keyword=fail:1 --from-code=UTF-8
    --package-name=tunecast --package-version=${PROJECT_VERSION} --add-comments=TRANSLATORS: --add-location=file)

if(TUNECAST_XGETTEXT)
  add_custom_target(pot
    COMMAND ${TUNECAST_XGETTEXT} ${tunecast_xgettext_args} -o po/tunecast.pot
            ${tunecast_message_sources}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Extracting the tool's messages into po/tunecast.pot"
    VERBATIM)
endif()

if(TUNECAST_HAVE_GETTEXT)
  file(STRINGS ${PROJECT_SOURCE_DIR}/po/LINGUAS tunecast_languages REGEX "^[^#]")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/LINGUAS)
  set(tunecast_catalogs)
  foreach(language IN LISTS tunecast_languages)
    string(STRIP "${language}" language)
    set(catalog_dir ${PROJECT_BINARY_DIR}/locale/${language}/LC_MESSAGES)
    add_custom_command(OUTPUT ${catalog_dir}/tunecast.mo
      COMMAND ${CMAKE_COMMAND} -E make_directory ${catalog_dir}
      COMMAND ${TUNECAST_MSGFMT} --check -o ${catalog_dir}/tunecast.mo
              ${PROJECT_SOURCE_DIR}/po/${language}.po
      DEPENDS ${PROJECT_SOURCE_DIR}/po/${language}.po
      COMMENT "Compiling the ${language} catalog"
      VERBATIM)
    list(APPEND tunecast_catalogs ${catalog_dir}/tunecast.mo)
    if(TUNECAST_INSTALL)
      install(FILES ${catalog_dir}/tunecast.mo
              DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
    endif()
  endforeach()
  add_custom_target(translations ALL DEPENDS ${tunecast_catalogs})
  # Brings every po/LANG.po up to po/tunecast.pot: new messages come in
  # untranslated (or fuzzy, from a similar one) for the translator to fill.
  if(TUNECAST_MSGMERGE)
    set(merges)
    foreach(language IN LISTS tunecast_languages)
      string(STRIP "${language}" language)
      list(APPEND merges COMMAND ${TUNECAST_MSGMERGE} --quiet --update --backup=none
           po/${language}.po po/tunecast.pot)
    endforeach()
    add_custom_target(po-update ${merges} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      COMMENT "Merging po/tunecast.pot into each language's catalog" VERBATIM)
  endif()
endif()

# tunecast_use_translations(TARGET): TARGET's tr() reads the catalogs, found
# from the executable's directory: locale/ in the build tree, the installed
# LOCALEDIR relative to BINDIR (a moved prefix still works), else LOCALEDIR.
function(tunecast_use_translations target)
  if(NOT TUNECAST_HAVE_GETTEXT)
    return()
  endif()
  file(RELATIVE_PATH from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LOCALEDIR})
  target_compile_definitions(${target} PRIVATE TUNECAST_HAVE_GETTEXT
    TUNECAST_LOCALE_FROM_BIN="${from_bin}" TUNECAST_LOCALEDIR="${CMAKE_INSTALL_FULL_LOCALEDIR}")
endfunction()
