# Node-API headers come from the npm packages node-api-headers and node-addon-api; nothing is
# downloaded. On Windows the import library for node.exe is made from node-api-headers' .def file.
find_program(NODE_EXECUTABLE node REQUIRED)
foreach(pkg node-api-headers node-addon-api)
  execute_process(
    COMMAND ${NODE_EXECUTABLE} -p "require('path').resolve(require('${pkg}').include_dir)"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS "${dir}")
    message(FATAL_ERROR "npm package ${pkg} not found: run scripts/setup.sh (npm ci) first")
  endif()
  list(APPEND NODE_API_INCLUDE_DIRS ${dir})
endforeach()

add_library(node_api INTERFACE)
target_include_directories(node_api SYSTEM INTERFACE ${NODE_API_INCLUDE_DIRS})
target_compile_definitions(node_api INTERFACE NAPI_VERSION=8 NAPI_CPP_EXCEPTIONS NODE_ADDON_API_CPP_EXCEPTIONS_ALL NODE_ADDON_API_DISABLE_DEPRECATED)

if(WIN32)
  execute_process(
    COMMAND ${NODE_EXECUTABLE} -p "require('path').resolve(require('node-api-headers').def_paths.node_api_def)"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE NODE_API_DEF OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(NODE_IMPORT_LIB ${CMAKE_BINARY_DIR}/libnode.a)
  add_custom_command(OUTPUT ${NODE_IMPORT_LIB}
    COMMAND ${CMAKE_DLLTOOL} -d ${NODE_API_DEF} -l ${NODE_IMPORT_LIB} -D node.exe -m i386:x86-64
    DEPENDS ${NODE_API_DEF} VERBATIM)
  add_custom_target(node_import_lib DEPENDS ${NODE_IMPORT_LIB})
  add_dependencies(node_api node_import_lib)
  target_link_libraries(node_api INTERFACE ${NODE_IMPORT_LIB})
endif()
