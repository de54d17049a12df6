# web.cmake: the WebAssembly module, tunecast.mjs and tunecast.wasm in the
# build directory, with the page's files (web/) beside them. Included by
# the top level under emscripten, after the synthesizer and the music
# libraries.

# The engine's facade is not the module's.
set_target_properties(tunecast_chip PROPERTIES EXCLUDE_FROM_ALL ON)

# The module: the glue of src/web and the tool's own listing, spans, song
# start and WAV header, so the files it makes are the tool's byte for byte.
add_executable(tunecast_web
  src/web/archive.cpp
  src/web/render.cpp
  src/web/player.cpp
  src/web/song.cpp
  src/tool/archive.cpp
  src/tool/render_span.cpp
  src/tool/song_start.cpp
  src/tool/messages.cpp
  src/tool/wav_header.cpp)
target_include_directories(tunecast_web PRIVATE src)
target_link_libraries(tunecast_web PRIVATE tunecast_synth tunecast_wad tunecast_midi
  tunecast_common)
set(tunecast_web_api ${PROJECT_SOURCE_DIR}/src/web/api.js)
# A plain script (--oformat=js) whose factory api.js wraps in the module's
# one default export; built for a page or a worker only, since api.js
# reads the .wasm itself in node. Memory grows as songs need it, to a
# bound; a C++ exception is caught in the glue, never an abort.
target_link_options(tunecast_web PRIVATE
  --oformat=js
  -sMODULARIZE=1
  -sEXPORT_NAME=tunecast_runtime
  -sENVIRONMENT=web,worker
  -sALLOW_MEMORY_GROWTH=1
  -sMAXIMUM_MEMORY=1073741824
  -sFORCE_FILESYSTEM=1
  -sEXPORTED_FUNCTIONS=_malloc,_free
  -sEXPORTED_RUNTIME_METHODS=FS,UTF8ToString,stringToUTF8,lengthBytesUTF8
  --extern-post-js=${tunecast_web_api})
set_target_properties(tunecast_web PROPERTIES OUTPUT_NAME tunecast SUFFIX .mjs
  LINK_DEPENDS ${tunecast_web_api})
# emscripten's JavaScript optimizer needs acorn, which Debian keeps in its
# own node folder: the link finds it however the build is started.
set(TUNECAST_WEB_NODE_PATH /usr/share/nodejs CACHE PATH "Where node finds acorn for emscripten")
set_property(TARGET tunecast_web PROPERTY RULE_LAUNCH_LINK
  "${CMAKE_COMMAND} -E env NODE_PATH=${TUNECAST_WEB_NODE_PATH}")

# The page's files, when there are any, beside the module.
if(EXISTS ${PROJECT_SOURCE_DIR}/web)
  add_custom_target(web_page ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/web ${PROJECT_BINARY_DIR}
    COMMENT "Copying the page (web/) beside the module")
endif()
