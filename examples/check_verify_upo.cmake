# Runs verify_upo offline on one receipt and checks its exit code and the lines its output must
# hold ('|'-separated in LINES). The library's registry and per-user folder are a fresh folder
# (HOME_DIR): a configuration another program stored there must not decide the outcome. The
# terminal's character set is LOCALE's (C.UTF-8 or C). Whatever the receipt holds, the output
# holds at most one line that starts with "Werdykt:" (exactly one unless EXIT is 2) and no control
# character but LF and TAB: no C0, DEL, C1 (in UTF-8), U+2028, U+2029 or bidirectional override
# or isolate; in ASCII (C) no byte above 0x7F at all.
file(REMOVE_RECURSE ${HOME_DIR})
file(MAKE_DIRECTORY ${HOME_DIR})
set(ENV{TALVORIN_REGISTRY_ROOT} ${HOME_DIR})
set(ENV{XDG_DATA_HOME} ${HOME_DIR}/data)
set(ENV{LC_ALL} ${LOCALE})
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
string(REGEX MATCHALL "\nWerdykt:" verdicts "\n${out}")
list(LENGTH verdicts verdict_count)
if(EXIT STREQUAL "2")
  set(want_verdicts 0)
else()
  set(want_verdicts 1)
endif()
if(NOT verdict_count EQUAL want_verdicts)
  list(APPEND missing "${want_verdicts} line(s) starting with Werdykt: (found ${verdict_count})")
endif()
# The output's bytes as " hh" each, so a pattern matches whole bytes only.
string(HEX "${out}" hex)
string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
set(controls " (0[0-8]|0[b-f]|1[0-9a-f]|7f)| c2 [89][0-9a-f]| e2 80 a[89a-e]| e2 81 a[6-9]")
if(LOCALE STREQUAL "C")
  string(APPEND controls "| [89a-f][0-9a-f]")
endif()
if(bytes MATCHES "${controls}")
  list(APPEND missing "no control character (found${CMAKE_MATCH_0})")
endif()
if(NOT code STREQUAL "${EXIT}" OR missing)
  message(FATAL_ERROR "verify_upo ${RECEIPT} ${DECLARATION}: exit ${code} (expected ${EXIT}); "
                      "missing: ${missing}\n--- stdout\n${out}\n--- stderr\n${err}")
endif()
