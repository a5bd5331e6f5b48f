# Runs verify_upo offline on one receipt and checks its exit code and the lines its output must
# hold ('|'-separated in LINES). The library's registry and per-user folder are a fresh folder
# (HOME_DIR): a configuration another program stored there must not decide the outcome.
file(REMOVE_RECURSE ${HOME_DIR})
file(MAKE_DIRECTORY ${HOME_DIR})
set(ENV{TALVORIN_REGISTRY_ROOT} ${HOME_DIR})
set(ENV{XDG_DATA_HOME} ${HOME_DIR}/data)
execute_process(COMMAND ${PROGRAM} --offline ${RECEIPT} ${DECLARATION} ${TRUST}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${HOME_DIR})
string(REPLACE "|" ";" lines "${LINES}")
set(missing "")
foreach(line IN LISTS lines)
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    list(APPEND missing "${line}")
  endif()
endforeach()
if(NOT code STREQUAL "${EXIT}" OR missing)
  message(FATAL_ERROR "verify_upo ${RECEIPT} ${DECLARATION}: exit ${code} (expected ${EXIT}); "
                      "missing: ${missing}\n--- stdout\n${out}\n--- stderr\n${err}")
endif()
