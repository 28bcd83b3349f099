# Delay-loaded system DLLs (Windows configurations).
#
# The installer is started from a Downloads folder that other downloads write
# into. Windows loads the static imports of an executable before any of its
# code runs, searching the executable's folder first for every DLL that is
# not a KnownDLL; so only KnownDLLs are imported statically, and these are
# delay-loaded: their first call loads them through the hook of
# sys/dll_search_win.h, by full path from the system folder.
#
# zetora_delay_lib(<name>) defines the imported target delay_<name>, the
# delay-import counterpart of lib<name>.a of the toolchain.
set(ZETORA_DELAY_DIR ${CMAKE_BINARY_DIR}/delay-imports)
file(MAKE_DIRECTORY ${ZETORA_DELAY_DIR})
set(ZETORA_DELAY_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/make-delaylib.sh)
string(REGEX REPLACE "-g\\+\\+(-posix)?$" "" ZETORA_TOOL_PREFIX "${CMAKE_CXX_COMPILER}")
get_filename_component(ZETORA_TOOL_PREFIX "${ZETORA_TOOL_PREFIX}" NAME)

# The libraries depend only on the toolchain, so they are made when the
# build is configured.
function(zetora_delay_lib name)
  find_library(ZETORA_IMPLIB_${name} ${name} REQUIRED)
  set(out ${ZETORA_DELAY_DIR}/lib${name}_delay.a)
  if(NOT EXISTS ${out} OR ${ZETORA_DELAY_SCRIPT} IS_NEWER_THAN ${out})
    execute_process(
      COMMAND bash ${ZETORA_DELAY_SCRIPT} ${ZETORA_TOOL_PREFIX} ${ZETORA_IMPLIB_${name}} ${name}.dll ${out}
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "could not make the delay-import library of ${name}.dll")
    endif()
  endif()
  add_library(delay_${name} STATIC IMPORTED GLOBAL)
  set_target_properties(delay_${name} PROPERTIES IMPORTED_LOCATION ${out})
endfunction()

# comctl32 stays a static import: the manifest's dependency on the common
# controls 6 assembly makes the loader take it from the side-by-side store,
# never from the program's folder, and the delay hook's full system path
# would bypass that and load the old version 5 controls.
foreach(dll version wininet wintrust crypt32 iphlpapi gdiplus msimg32 winmm oleacc)
  zetora_delay_lib(${dll})
endforeach()

# The test that reads the installer's import table: only KnownDLLs (and the
# side-by-side comctl32) may be imported statically. It reads the release
# installer of the release check (tools/release_check.sh, built by make
# beside this build), as the size check does.
function(zetora_add_import_check installer_target)
  if(ZETORA_RELEASE)
    return()
  endif()
  set(installer ${CMAKE_BINARY_DIR}/../release-check/dist/ZetoraWebInstaller.exe)
  add_test(NAME installer_imports
           COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/check-imports.sh i686-w64-mingw32-objdump ${installer})
endfunction()
