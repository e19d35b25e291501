# rkv.exe. CLI11 and nlohmann/json are header-only: the host's headers serve, through a folder
# that holds only them (the rest of /usr/include must not shadow the MinGW headers). Without
# cross-built libsndfile and libsoxr it writes WAV at 22050 Hz only.
set(host_headers ${CMAKE_CURRENT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${host_headers})
foreach(dir CLI nlohmann)
  if(NOT EXISTS ${host_headers}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${host_headers}/${dir} SYMBOLIC)
  endif()
endforeach()

add_library(rkv_cli_core STATIC
  session.cpp
  wav_only_writer.cpp
  info_command.cpp
  render_command.cpp
  play_command.cpp
  terminal_win32.cpp
  platform_win32.cpp)
target_include_directories(rkv_cli_core PUBLIC ${PROJECT_SOURCE_DIR})
target_include_directories(rkv_cli_core SYSTEM PUBLIC ${host_headers})
target_include_directories(rkv_render SYSTEM PUBLIC ${host_headers})
target_link_libraries(rkv_cli_core PUBLIC rkv_engine rkv_resources rkv_render rkv_audio)
# MinGW GCC 12 at -O3 warns falsely about overlapping copies inside std::string.
target_compile_options(rkv_cli_core PRIVATE -Wno-restrict)
target_compile_options(rkv_render PRIVATE -Wno-restrict)

add_executable(rkv main.cpp)
target_link_libraries(rkv PRIVATE rkv_cli_core)
target_compile_definitions(rkv PRIVATE RKV_VERSION="${PROJECT_VERSION}")
