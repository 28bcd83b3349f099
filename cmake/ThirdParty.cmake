# The libraries the installer links, compiled from Debian's source packages
# (fetched into the build tree) in both configurations, so the host tests and
# tools read with the same code; the Windows build also compiles Debian's
# GoogleTest sources. zlib comes from Debian's MinGW package (Windows) or the
# host's own.
set(ZETORA_DEPS_SRC ${CMAKE_BINARY_DIR}/deps-src)
execute_process(
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/fetch-sources.sh ${ZETORA_DEPS_SRC}
  RESULT_VARIABLE fetch_rc)
if(NOT fetch_rc EQUAL 0)
  message(FATAL_ERROR "could not fetch the Debian source packages (run cmake/setup.sh)")
endif()

file(GLOB minizip_dir LIST_DIRECTORIES true ${ZETORA_DEPS_SRC}/minizip-[0-9]*)
file(GLOB jsoncpp_dir LIST_DIRECTORIES true ${ZETORA_DEPS_SRC}/libjsoncpp-[0-9]*)
file(GLOB tinyxml_dir LIST_DIRECTORIES true ${ZETORA_DEPS_SRC}/tinyxml-[0-9]*)

if(ZETORA_WINDOWS)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

set(minizip_sources ${minizip_dir}/unzip.c ${minizip_dir}/ioapi.c)
if(ZETORA_WINDOWS)
  list(APPEND minizip_sources ${minizip_dir}/iowin32.c)
endif()
add_library(minizip STATIC ${minizip_sources})
target_include_directories(minizip SYSTEM PUBLIC ${minizip_dir})
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
target_compile_options(minizip PRIVATE -w)

file(GLOB jsoncpp_sources ${jsoncpp_dir}/src/lib_json/*.cpp)
add_library(jsoncpp STATIC ${jsoncpp_sources} ${CMAKE_CURRENT_LIST_DIR}/jsoncpp_stream_api.cpp)
target_include_directories(jsoncpp SYSTEM PUBLIC ${jsoncpp_dir}/include)
target_compile_options(jsoncpp PRIVATE -w)
# Its number reading (strtod) and message printing (snprintf) take the
# system's C library (msvcrt), not MinGW's own strtod and printf families
# (about 30 KB): the C headers are read first with MinGW's ANSI stdio off,
# before the C++ library's configuration turns it on for everything else.
if(ZETORA_WINDOWS)
  target_compile_definitions(jsoncpp PRIVATE __USE_MINGW_ANSI_STDIO=0)
  target_compile_options(jsoncpp PRIVATE "SHELL:-include stdio.h" "SHELL:-include stdlib.h")
endif()

add_library(tinyxml STATIC
  ${tinyxml_dir}/tinyxml.cpp ${tinyxml_dir}/tinystr.cpp
  ${tinyxml_dir}/tinyxmlerror.cpp ${tinyxml_dir}/tinyxmlparser.cpp)
target_include_directories(tinyxml SYSTEM PUBLIC ${tinyxml_dir})
# Without TIXML_USE_STL: the installer reads through the char* interface, and
# the STL build's stream operators pull the whole iostream and locale library
# (about 700 KB) into the installer.
target_compile_options(tinyxml PRIVATE -w)
# tinyxml's printing and number scanning use the C library's formatted I/O;
# on Windows it takes the system's (msvcrt) instead of linking MinGW's own
# printf and scanf family (about 40 KB) into the installer.
if(ZETORA_WINDOWS)
  target_compile_definitions(tinyxml PRIVATE __USE_MINGW_ANSI_STDIO=0)
endif()

if(ZETORA_WINDOWS)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
endif()

# A program that links every library, so each one is known to build and link.
file(WRITE ${CMAKE_BINARY_DIR}/deps_link_check.cpp [=[
#include <unzip.h>
#include <json/json.h>
#include <tinyxml.h>
int main() {
  unzFile z = unzOpen("missing.zip");
  Json::Value v(1);
  TiXmlDocument doc;
  doc.Parse("<a/>");
  return (z == nullptr && v.asInt() == 1 && doc.RootElement()) ? 0 : 1;
}
]=])
add_executable(deps_link_check ${CMAKE_BINARY_DIR}/deps_link_check.cpp)
target_link_libraries(deps_link_check PRIVATE minizip jsoncpp tinyxml)
add_test(NAME deps_link_check COMMAND deps_link_check)
