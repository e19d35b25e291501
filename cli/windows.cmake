# rkv.exe. CLI11 and nlohmann/json are header-only: the host's headers serve, through a folder
# that holds only them (the rest of /usr/include must not shadow the MinGW headers). Without
# cross-built libsndfile and libsoxr it writes WAV at 22050 Hz only; with them
# (RKV_WIN_FULL_WRITER, scripts/build-win-deps.sh) it has the same writer as on Linux.
option(RKV_WIN_FULL_WRITER "Link rkv.exe with cross-built libsndfile and libsoxr" OFF)
set(host_headers ${CMAKE_CURRENT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${host_headers})
foreach(dir CLI nlohmann)
  if(NOT EXISTS ${host_headers}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${host_headers}/${dir} SYMBOLIC)
  endif()
endforeach()

add_library(rkv_cli_core STATIC
  session.cpp
  $<IF:$<BOOL:${RKV_WIN_FULL_WRITER}>,audio_writer.cpp,wav_only_writer.cpp>
  wav_header.cpp
  info_command.cpp
  render_command.cpp
  play_command.cpp
  terminal_win32.cpp
  platform_win32.cpp)
target_include_directories(rkv_cli_core PUBLIC ${PROJECT_SOURCE_DIR})
target_include_directories(rkv_cli_core SYSTEM PUBLIC ${host_headers})
target_include_directories(rkv_render SYSTEM PUBLIC ${host_headers})
target_link_libraries(rkv_cli_core PUBLIC rkv_engine rkv_resources rkv_render rkv_audio)
if(RKV_WIN_FULL_WRITER)
  find_package(SndFile CONFIG REQUIRED)
  find_library(RKV_SOXR_LIB soxr REQUIRED)
  find_path(RKV_SOXR_INCLUDE soxr.h REQUIRED)
  # The render layer resamples, the writer encodes.
  target_include_directories(rkv_render SYSTEM PRIVATE ${RKV_SOXR_INCLUDE})
  target_link_libraries(rkv_render PRIVATE ${RKV_SOXR_LIB})
  target_compile_definitions(rkv_render PRIVATE RKV_HAVE_SOXR)
  target_link_libraries(rkv_cli_core PRIVATE SndFile::sndfile)
endif()
# MinGW GCC 12 at -O3 warns falsely about overlapping copies inside std::string.
target_compile_options(rkv_cli_core PRIVATE -Wno-restrict)
target_compile_options(rkv_render PRIVATE -Wno-restrict)

add_executable(rkv main.cpp)
target_link_libraries(rkv PRIVATE rkv_cli_core)
target_compile_definitions(rkv PRIVATE RKV_VERSION="${PROJECT_VERSION}")
