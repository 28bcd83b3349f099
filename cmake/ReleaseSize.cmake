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

# The stripped 32-bit installer must stay under this many bytes.
set(ZETORA_INSTALLER_SIZE_LIMIT 1048576 CACHE STRING "largest allowed size of the release installer in bytes")

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
