# Every folder of src/ is a library boundary. Its headers are reached as
# "<folder>/name.h" only by the folder's own targets and by targets that link
# one of its libraries, so an include that runs against the dependencies
# (stat including an app header, say) does not build.
#
# Each folder is staged as build/include/<folder>/<folder> -> src/<folder>.
set(ZETORA_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

function(zetora_stage_folder folder)
  set(stage ${ZETORA_INCLUDE_ROOT}/${folder})
  if(NOT EXISTS ${stage}/${folder})
    file(MAKE_DIRECTORY ${stage})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${stage}/${folder} SYMBOLIC)
  endif()
endfunction()

# At the top of a folder's CMakeLists.txt: its targets see its own headers.
macro(zetora_folder folder)
  zetora_stage_folder(${folder})
  include_directories(${ZETORA_INCLUDE_ROOT}/${folder})
endmacro()

# zetora_export_includes(folder lib...): users of these libraries see the
# folder's headers.
function(zetora_export_includes folder)
  zetora_stage_folder(${folder})
  foreach(target ${ARGN})
    target_include_directories(${target} INTERFACE ${ZETORA_INCLUDE_ROOT}/${folder})
  endforeach()
endfunction()
