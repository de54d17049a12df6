# check_catalogs.cmake: run by ctest as
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DXGETTEXT=... -DMSGCMP=... -DMSGFMT=...
#         -DXGETTEXT_ARGS=... -DSOURCES=... -P check_catalogs.cmake
# The tool's messages extracted afresh must be exactly those of
# po/tunecast.pot, and every language of po/LINGUAS must translate each of
# them (no empty, no fuzzy entry) with format strings that agree.
function(run_step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGV}\n${out}${err}")
  endif()
endfunction()

set(fresh ${WORK_DIR}/tunecast.pot)
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${XGETTEXT} ${XGETTEXT_ARGS} -o ${fresh} ${SOURCES}
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
set(pot ${SOURCE_DIR}/po/tunecast.pot)
# Both ways: a message missing from po/tunecast.pot, or one no longer in
# the sources (run `cmake --build build --target pot`).
run_step(${MSGCMP} --use-untranslated ${pot} ${fresh})
run_step(${MSGCMP} --use-untranslated ${fresh} ${pot})
file(STRINGS ${SOURCE_DIR}/po/LINGUAS languages REGEX "^[^#]")
foreach(language IN LISTS languages)
  string(STRIP "${language}" language)
  run_step(${MSGCMP} ${SOURCE_DIR}/po/${language}.po ${fresh})
  run_step(${MSGFMT} --check -o ${WORK_DIR}/${language}.mo ${SOURCE_DIR}/po/${language}.po)
endforeach()
message(STATUS "catalogs: ${languages} translate every message of the tool")
