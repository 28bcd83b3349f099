# Size of the release installer, which every user downloads.
#
# Release builds of the Windows configuration are optimised for size, keep
# every function and datum in a section of its own so the linker drops what
# nothing references, and are stripped. The download core keeps -O2 (see
# zetora_keep_speed). The cross-built libraries (tinyxml, jsoncpp, minizip)
# are added after this file is included and get the same flags.
if(NOT ZETORA_WINDOWS)
  return()
endif()

set(release $<CONFIG:Release>)
add_compile_options($<${release}:-Os> $<${release}:-ffunction-sections> $<${release}:-fdata-sections>)
add_link_options($<${release}:-Wl,--gc-sections> $<${release}:-s>)

# The stripped 32-bit installer, with 1x and 2x skin images, must stay
# within this many bytes (900 KB).
set(ZETORA_INSTALLER_SIZE_LIMIT 921600)

# The download path runs per block of every transfer: it stays at -O2.
function(zetora_keep_speed)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE $<${release}:-O2>)
  endforeach()
endfunction()

# Adds the test that fails when the 32-bit release installer outgrows its
# budget. It measures the signed installer of the release check
# (tools/release_check.sh, run by make beside this build): the program users
# download, without test seams.
function(zetora_add_size_check installer_target)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Release" OR ZETORA_RELEASE)
    return()
  endif()
  set(ZETORA_RELEASE_CHECK_BUILD ${CMAKE_BINARY_DIR}/../release-check CACHE PATH
      "folder of the release check whose installer the size test measures")
  set(installer ${ZETORA_RELEASE_CHECK_BUILD}/dist/ZetoraWebInstaller.exe)
  add_test(NAME installer_size
           COMMAND ${CMAKE_COMMAND} -DFILE=${installer} -DLIMIT=${ZETORA_INSTALLER_SIZE_LIMIT}
                   -P ${CMAKE_SOURCE_DIR}/cmake/check-size.cmake)
  # The release check's artifacts: 32-bit, no test seams, signed, listed.
  add_test(NAME release_artifacts
           COMMAND bash ${CMAKE_SOURCE_DIR}/tools/release.sh check ${ZETORA_RELEASE_CHECK_BUILD}/dist)
endfunction()

# The installer's own code is built without exception support: nothing in it
# throws, and the only handlers are the few that catch what a library throws
# (a file with a catch clause, or one that includes sys/background_call.h,
# whose template catches a failed thread start, keeps exception support). An exception that
# reaches code built without it ends the program through the terminate
# handler, as an uncaught one did before; the unwind tables and landing pads
# of every other function are left out (about a tenth of the executable).
# Third-party libraries keep their own settings.
function(zetora_build_without_exceptions installer_target)
  set(pending ${installer_target})
  set(seen)
  while(pending)
    list(POP_FRONT pending target)
    if(NOT TARGET ${target} OR target IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${target})
    get_target_property(imported ${target} IMPORTED)
    get_target_property(type ${target} TYPE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    if(imported OR type STREQUAL "INTERFACE_LIBRARY" OR NOT source_dir MATCHES "^${CMAKE_SOURCE_DIR}/src(/|$)")
      continue()
    endif()
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
    get_target_property(sources ${target} SOURCES)
    foreach(source IN LISTS sources)
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
      if(path MATCHES "\\.cpp$" AND EXISTS ${path})
        file(STRINGS ${path} handlers REGEX "catch \\(|sys/background_call\\.h")
        if(handlers)
          set_property(SOURCE ${path} DIRECTORY ${source_dir} APPEND PROPERTY COMPILE_OPTIONS -fexceptions)
        endif()
      endif()
    endforeach()
    get_target_property(links ${target} LINK_LIBRARIES)
    if(links)
      list(APPEND pending ${links})
    endif()
  endwhile()
endfunction()
