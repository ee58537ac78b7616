# Fails when one of PROGRAMS ("|"-separated) carries a symbol of the serial test seam, or when
# the test program SEAMED carries none (the check would then prove nothing).
function(seam_symbols binary result)
  execute_process(COMMAND ${NM} -C ${binary} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed
                  ERROR_VARIABLE errors)
  if(failed)
    message(FATAL_ERROR "nm failed on ${binary}: ${errors}")
  endif()
  string(REGEX MATCHALL "[^\n]*SerialSeam[^\n]*" found "${symbols}")
  set(${result} "${found}" PARENT_SCOPE)
endfunction()

seam_symbols(${SEAMED} in_test)
if(NOT in_test)
  message(FATAL_ERROR "${SEAMED} shows no seam symbols: the check cannot see them")
endif()

string(REPLACE "|" ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
  seam_symbols(${program} in_program)
  if(in_program)
    list(LENGTH in_program count)
    list(GET in_program 0 first)
    message(FATAL_ERROR "${program} carries ${count} seam symbols, for example: ${first}")
  endif()
  message(STATUS "${program}: no seam symbols")
endforeach()
