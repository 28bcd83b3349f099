# cmake -DFILE=path -DLIMIT=bytes -P check-size.cmake
# Fails when FILE is larger than LIMIT bytes; prints its size either way.
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "no 32-bit installer built at ${FILE}")
endif()
file(SIZE "${FILE}" size)
math(EXPR left "${LIMIT} - ${size}")
if(size GREATER LIMIT)
  math(EXPR over "${size} - ${LIMIT}")
  message(FATAL_ERROR "${FILE}: ${size} bytes, over the limit of ${LIMIT} by ${over} bytes")
endif()
message("${FILE}: ${size} bytes, ${left} bytes under the limit of ${LIMIT}")
