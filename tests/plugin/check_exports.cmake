# Fails unless the shared library LIBRARY defines exactly one dynamic symbol, bipGetParserFactory.
# Run as: cmake -DNM=<nm> -DLIBRARY=<path> -P check_exports.cmake
execute_process(
  COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(symbols)
foreach(line IN LISTS lines)
  # "<address> <type> <name>", with a version suffix on some names
  if(line MATCHES "^[0-9a-fA-F]+ +[A-Za-z] +([^ @]+)")
    list(APPEND symbols "${CMAKE_MATCH_1}")
  endif()
endforeach()

if(NOT symbols STREQUAL "bipGetParserFactory")
  message(FATAL_ERROR "${LIBRARY} exports [${symbols}], expected only bipGetParserFactory\n"
                      "${listing}")
endif()
message(STATUS "${LIBRARY} exports only bipGetParserFactory")
