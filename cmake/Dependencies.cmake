# One interface target carrying every third-party dependency of the core library.
add_library(desktracks_deps INTERFACE)
# nlohmann-json and miniaudio are header-only, fetched by scripts/setup.sh.
# (-isystem /usr/include would upset the C++ library's #include_next: the system's own need none.)
if(NOT TRIXIE_INCLUDE_DIR STREQUAL "/usr/include")
  target_include_directories(desktracks_deps SYSTEM INTERFACE ${TRIXIE_INCLUDE_DIR})
endif()
target_compile_definitions(desktracks_deps INTERFACE
  MA_NO_MP3 MA_NO_FLAC MA_NO_ENGINE MA_NO_NODE_GRAPH MA_NO_RESOURCE_MANAGER MA_NO_GENERATION)

if(WIN32)
  # Header-only spdlog and fmt for the cross build: expose only those two folders of the host.
  # spdlog takes wide file names there, as std::filesystem::path keeps them.
  set(win_include ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${win_include})
  foreach(lib spdlog fmt)
    if(NOT EXISTS ${win_include}/${lib})
      file(CREATE_LINK /usr/include/${lib} ${win_include}/${lib} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(desktracks_deps SYSTEM INTERFACE ${win_include})
  target_compile_definitions(desktracks_deps INTERFACE
    FMT_HEADER_ONLY SPDLOG_FMT_EXTERNAL SPDLOG_WCHAR_FILENAMES WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00)
  # Media Foundation is delay-loaded: cmake/DelayLoad.cmake.
  target_link_libraries(desktracks_deps INTERFACE
    d3d11 dxgi mfuuid ole32 oleaut32 uuid user32 gdi32 ole32 winmm avrt ksuser)
  # The webcam's colour converter CLSID comes from the static wmcodecdspuuid library.
  target_link_libraries(desktracks_deps INTERFACE wmcodecdspuuid)
else()
  find_package(spdlog REQUIRED)
  find_package(fmt REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil libswscale)
  pkg_check_modules(XLIBS REQUIRED IMPORTED_TARGET x11 xext xfixes xdamage xrandr xcursor)
  # libpulse's headers only: miniaudio opens the library at run time, and so do we.
  pkg_check_modules(PULSE REQUIRED libpulse)
  target_include_directories(desktracks_deps SYSTEM INTERFACE ${PULSE_INCLUDE_DIRS})
  find_package(Threads REQUIRED)
  find_library(YUV_LIBRARY yuv REQUIRED)  # libyuv-dev: the screen writer's colour conversion
  target_link_libraries(desktracks_deps INTERFACE
    spdlog::spdlog fmt::fmt PkgConfig::FFMPEG PkgConfig::XLIBS Threads::Threads ${YUV_LIBRARY} ${CMAKE_DL_LIBS} m)
endif()
