# Windows: DLLs the add-on binds on first call instead of at load time, each through a
# delay-import library made here with dlltool.
#  - node.exe: Node-API (definitions from node-api-headers). The import is resolved to the host
#    executable, whatever its name (node.exe, a renamed copy, Electron).
#  - the media libraries below (definitions from mingw-w64's import libraries): absent on Windows
#    N editions, where a load-time import would stop the whole add-on from loading. Their users
#    ask mediaFoundationAvailable (src/platform/win/media_foundation_libraries.h) first; a call
#    into a missing one returns a failing HRESULT. Add a library by adding its mingw-w64 import
#    library name here.
# src/platform/win/delay_load_hooks.cpp holds the resolution; it is linked into every Windows
# executable and module that takes these libraries (desktracks_delay_load).
set(DESKTRACKS_DELAY_LOADED_MEDIA mfplat mfreadwrite mf)

set(delay_dir ${CMAKE_BINARY_DIR}/delay-load)
file(MAKE_DIRECTORY ${delay_dir})

# Writes `content` to `file` only when it differs, so nothing rebuilds needlessly.
function(desktracks_write_if_changed file content)
  file(WRITE ${file}.new "${content}")
  file(COPY_FILE ${file}.new ${file} ONLY_IF_DIFFERENT)
  file(REMOVE ${file}.new)
endfunction()

# Sets <out>_DELAY_LIB to a delay-import library for `dll` made from the .def file `def`.
function(desktracks_delay_import_library out dll def)
  set(lib ${delay_dir}/lib${out}-delay.a)
  # Run in the folder with a bare output name: dlltool names symbols after the path it is given.
  execute_process(COMMAND ${CMAKE_DLLTOOL} -d ${def} -y lib${out}-delay.a -D ${dll} -m i386:x86-64
                  WORKING_DIRECTORY ${delay_dir} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dlltool could not make the delay-import library for ${dll}")
  endif()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  set(${out}_DELAY_LIB ${lib} PARENT_SCOPE)
  # dlltool names the library's delay-import descriptor after the library file.
  string(MAKE_C_IDENTIFIER "lib${out}-delay.a" id)
  set(${out}_DELAY_DESCRIPTOR __DELAY_IMPORT_DESCRIPTOR_${id} PARENT_SCOPE)
endfunction()

find_program(MINGW_NM x86_64-w64-mingw32-nm REQUIRED)
set(media_names "")
set(media_libs "")
set(media_descriptors "")
foreach(name ${DESKTRACKS_DELAY_LOADED_MEDIA})
  find_library(import_${name} ${name} REQUIRED)
  execute_process(COMMAND ${CMAKE_DLLTOOL} -I ${import_${name}} OUTPUT_VARIABLE dll OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE dll_result)
  execute_process(COMMAND ${MINGW_NM} -g --defined-only ${import_${name}} OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
  # A wrong name would leave the library to the default search order at run time, where a missing
  # one (Windows N) ends the host process instead of being said.
  if(NOT dll_result EQUAL 0 OR NOT dll MATCHES "\\.[dD][lL][lL]$")
    message(FATAL_ERROR "cannot read the DLL name of ${import_${name}}: '${dll}'")
  endif()
  if(NOT nm_result EQUAL 0)
    message(FATAL_ERROR "cannot list the symbols of ${import_${name}}")
  endif()
  # Functions only: names with both a thunk (T) and an import slot (I); data cannot be delay-loaded.
  string(REGEX MATCHALL " T [A-Za-z0-9_]+" thunks "${symbols}")
  if(NOT thunks)
    message(FATAL_ERROR "${import_${name}} lists no functions")
  endif()
  set(def "LIBRARY \"${dll}\"\nEXPORTS\n")
  foreach(thunk ${thunks})
    string(SUBSTRING "${thunk}" 3 -1 function)
    if(symbols MATCHES " I __imp_${function}\n")
      string(APPEND def "${function}\n")
    endif()
  endforeach()
  desktracks_write_if_changed(${delay_dir}/${name}.def "${def}")
  desktracks_delay_import_library(${name} ${dll} ${delay_dir}/${name}.def)
  list(APPEND media_names "\"${dll}\"")
  list(APPEND media_libs ${${name}_DELAY_LIB})
  list(APPEND media_descriptors ${${name}_DELAY_DESCRIPTOR})
endforeach()

desktracks_delay_import_library(node node.exe ${NODE_API_DEF})
target_link_libraries(node_api INTERFACE ${node_DELAY_LIB})
target_compile_definitions(node_api INTERFACE DESKTRACKS_NODE_DELAY_DESCRIPTOR=${node_DELAY_DESCRIPTOR})

# The media list for the C++ side, from the one list above.
list(JOIN media_names ", " media_names)
set(media_declarations "")
set(media_addresses "")
foreach(descriptor ${media_descriptors})
  string(APPEND media_declarations "extern \"C\" const ImgDelayDescr ${descriptor};\n")
  list(APPEND media_addresses "&${descriptor}")
endforeach()
list(JOIN media_addresses ", " media_addresses)
desktracks_write_if_changed(${delay_dir}/delay_loaded_media.h
  "// Made by cmake/DelayLoad.cmake.\n#pragma once\n\n#include \"platform/win/delay_import.h\"\n\n// The delay-loaded media libraries, by the names the delay-load helper asks for.\nconstexpr const char* delayLoadedMediaLibraries[] = {${media_names}};\n\n// Their delay-import descriptors, in the same order.\n${media_declarations}inline const ImgDelayDescr* const delayLoadedMediaDescriptors[] = {${media_addresses}};\n")
target_include_directories(desktracks_deps INTERFACE ${delay_dir})
target_link_libraries(desktracks_deps INTERFACE ${media_libs})

# The hooks, as objects of each executable or module that links them: the delay-load helper
# finds them by symbol name, so they must never sit unreferenced in an archive.
add_library(desktracks_delay_load OBJECT ${CMAKE_SOURCE_DIR}/src/platform/win/delay_load_hooks.cpp)
target_link_libraries(desktracks_delay_load PRIVATE desktracks_deps)
target_include_directories(desktracks_delay_load PRIVATE ${CMAKE_SOURCE_DIR}/src)
desktracks_warnings(desktracks_delay_load)
