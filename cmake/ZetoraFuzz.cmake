# libFuzzer targets of the host build, compiled with clang beside it (the
# host build itself uses the default compiler) and run for a few seconds by
# ctest against the seeds in <source dir>/seeds/<name>.
#
# zetora_add_fuzzer(<name> FLAGS <clang flags...> SOURCES <files...>
#                   [DEPENDS <headers...>] [LINK <libraries...>] [NO_TEST])
#   The custom command does not scan includes: DEPENDS names the headers
#   whose change must rebuild the target. NO_TEST: built, run by hand only.
find_program(ZETORA_CLANGXX clang++)

function(zetora_add_fuzzer name)
  cmake_parse_arguments(F "NO_TEST" "" "FLAGS;SOURCES;DEPENDS;LINK" ${ARGN})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${output}
    COMMAND ${ZETORA_CLANGXX} -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined ${F_FLAGS} -o ${output} ${F_SOURCES} ${F_LINK}
    DEPENDS ${F_SOURCES} ${F_DEPENDS}
    COMMENT "Building fuzz target ${name} with clang"
    VERBATIM)
  add_custom_target(${name}_build ALL DEPENDS ${output})
  if(F_NO_TEST)
    return()
  endif()
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name}
           COMMAND ${output} -max_total_time=3 -rss_limit_mb=1024 -timeout=10
                   ${corpus} ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 60 LABELS fuzz)
endfunction()
