# Runs verify_upo offline on one receipt and checks its exit code and the lines its output must
# hold ('|'-separated in LINES). The library's registry and per-user folder are a fresh folder
# (HOME_DIR): a configuration another program stored there must not decide the outcome. The
# terminal's character set is LOCALE's (C.UTF-8 or C). Whatever the receipt holds, stdout holds at
# most one line that starts with "Werdykt:" (exactly one unless EXIT is 2), stderr none, and
# neither holds a control character but LF and TAB: no C0, DEL, C1 (in UTF-8), U+2028, U+2029 or
# bidirectional override or isolate; in ASCII (C) no byte above 0x7F at all. Every line of stdout
# is the program's own (it begins with one of its labels, or is empty) or the library's report,
# indented.
# NAMED (RECEIPT, DECLARATION or TRUST) gives that input a hostile name, made here at run time and
# passed relative to the working folder as a victim would: a verdict at its start and after a line
# break, ESC, CSI, a lone CR and a byte that is not UTF-8. NAMED_AS says what bears the name:
# "missing" (nothing), "empty" (an empty file) or "folder" (a folder holding only an empty file
# of the same name and ".crt"). In LINES "@NAME@" stands for the name as the program shows it.
# NAME_FORM "quotes" makes the name one that closes its quotes and forges escapes instead (a '"',
# a line break, the texts \x0A and \" as they are); every quoted name the program prints must
# then read back, its escapes undone, as the name itself.
file(REMOVE_RECURSE ${HOME_DIR})
file(MAKE_DIRECTORY ${HOME_DIR})
set(ENV{TALVORIN_REGISTRY_ROOT} ${HOME_DIR})
set(ENV{XDG_DATA_HOME} ${HOME_DIR}/data)
set(ENV{LC_ALL} ${LOCALE})
set(work_dir ${HOME_DIR})
set(shown "")
if(NAMED)
  string(ASCII 10 lf)
  string(ASCII 13 cr)
  string(ASCII 27 esc)
  string(ASCII 194 155 csi)
  string(ASCII 255 not_utf8)
  set(verdict "Werdykt: UPO poprawne, deklaracja zgodna z SkrotDokumentu.")
  if(NAME_FORM STREQUAL "quotes")
    set(name "pustaa\": plik jest pusty${lf}\\x0AWerdykt: \\\"")
    set(shown "pustaa\\\": plik jest pusty\\x0A\\\\x0AWerdykt: \\\\\\\"")
  else()
    set(name "${verdict}${lf}${verdict}${esc}[8m${csi}${cr}${not_utf8}")
    set(shown "${verdict}\\x0A${verdict}\\x1B[8m<U+009B>\\x0D\\xFF")
  endif()
  set(work_dir ${HOME_DIR}/names)
  file(MAKE_DIRECTORY ${work_dir})
  if(NAMED_AS STREQUAL "empty")
    file(WRITE "${work_dir}/${name}" "")
  elseif(NAMED_AS STREQUAL "folder")
    # mkdir, as file(MAKE_DIRECTORY) would take a backslash in the name for a separator
    execute_process(COMMAND mkdir "${work_dir}/${name}" RESULT_VARIABLE made)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "mkdir: ${made}")
    endif()
    file(WRITE "${work_dir}/${name}/${name}.crt" "")
  elseif(NOT NAMED_AS STREQUAL "missing")
    message(FATAL_ERROR "NAMED_AS: ${NAMED_AS}")
  endif()
  set(${NAMED} "${name}")
endif()
set(inputs "${RECEIPT} ${DECLARATION} ${TRUST}")
if(NAMED)
  string(REPLACE "${name}" "${shown}" inputs "${inputs}")
endif()
execute_process(COMMAND ${PROGRAM} --offline "${RECEIPT}" "${DECLARATION}" "${TRUST}"
                WORKING_DIRECTORY ${work_dir}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${HOME_DIR})
string(REPLACE "|" ";" lines "${LINES}")
set(missing "")
foreach(line IN LISTS lines)
  string(REPLACE "@NAME@" "${shown}" line "${line}")
  string(FIND "${out}${err}" "${line}" at)
  if(at EQUAL -1)
    list(APPEND missing "${line}")
  endif()
endforeach()
# Each quoted name, read back: \\ and \" the character, \xHH the octet; a quote that ended the
# name early, or an escape the name forged, would read back as another name.
if(NAME_FORM STREQUAL "quotes")
  string(REGEX MATCHALL "\n\"(\\\\.|[^\"\\\n])*\": " labels "\n${out}\n${err}")
  if(NOT labels)
    list(APPEND missing "a quoted name")
  endif()
  string(ASCII 1 mark)  # never printed raw (a control), so it stands for an escaped backslash
  foreach(label IN LISTS labels)
    string(REGEX REPLACE "^\n\"(.*)\": $" "\\1" quoted "${label}")
    string(REPLACE "\\\\" "${mark}" read "${quoted}")
    string(REPLACE "\\\"" "\"" read "${read}")
    while(read MATCHES "\\\\x([0-9A-F][0-9A-F])")
      set(hex ${CMAKE_MATCH_1})
      math(EXPR octet "0x${hex}")
      string(ASCII ${octet} octet)
      string(REPLACE "\\x${hex}" "${octet}" read "${read}")
    endwhile()
    string(REPLACE "${mark}" "\\" read "${read}")
    if(NOT read STREQUAL name AND NOT read STREQUAL "${name}/${name}.crt")
      list(APPEND missing "the quoted name ${quoted} read back as the name")
    endif()
  endforeach()
endif()
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
if("\n${err}" MATCHES "\nWerdykt:")
  list(APPEND missing "no line of stderr starting with Werdykt:")
endif()
# The report is the library's, indented so that none of its lines can pass for one of the
# program's (no report line begins with a stranger's text today, so the rows cannot show that by
# content): with the program's own lines and the report's taken away, nothing may remain.
string(JOIN "|" own Werdykt "Status podpisu" Powod "Znaczniki czasu" "Skrot deklaracji"
       NazwaPodmiotuPrzyjmujacego NumerReferencyjny SkrotDokumentu SkrotZlozonejStruktury
       NazwaStrukturyLogicznej DataWplyniecia StempelCzasu PESEL1 NIP1 NumerIdentyfikacyjny PESEL2
       NIP2 KodUrzedu KodFormularza Przyjeto)
string(REGEX REPLACE "\n(  |(${own}): |SkrotDokumentu ma )[^\n]*" "" rest "\n${out}")
if(rest MATCHES "\n([^\n]+)")
  list(APPEND missing "the report indented (found the line: ${CMAKE_MATCH_1})")
endif()
# The output's bytes as " hh" each, so a pattern matches whole bytes only.
string(HEX "${out}${err}" hex)
string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
set(controls " (0[0-8]|0[b-f]|1[0-9a-f]|7f)| c2 [89][0-9a-f]| e2 80 a[89a-e]| e2 81 a[6-9]")
if(LOCALE STREQUAL "C")
  string(APPEND controls "| [89a-f][0-9a-f]")
endif()
if(bytes MATCHES "${controls}")
  list(APPEND missing "no control character (found${CMAKE_MATCH_0})")
endif()
if(NOT code STREQUAL "${EXIT}" OR missing)
  message(FATAL_ERROR "verify_upo ${inputs}: exit ${code} (expected ${EXIT}); missing: "
                      "${missing}\n--- stdout\n${out}\n--- stderr\n${err}")
endif()
