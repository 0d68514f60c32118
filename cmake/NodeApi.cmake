# Node-API headers come from the npm packages node-api-headers and node-addon-api; nothing is
# downloaded. On Windows the delay-import library for Node-API is made from node-api-headers' .def
# file by cmake/DelayLoad.cmake.
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
endif()
