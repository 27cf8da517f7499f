# Checks what the build puts beside the program: help.htm (our help page) and the
# Speakers folder the program reads its users from.
if(NOT IS_DIRECTORY "${PROGRAM_DIR}/Speakers")
  message(FATAL_ERROR "no Speakers folder beside the program in ${PROGRAM_DIR}")
endif()
if(NOT EXISTS "${PROGRAM_DIR}/help.htm")
  message(FATAL_ERROR "no help.htm beside the program in ${PROGRAM_DIR}")
endif()
file(READ "${PROGRAM_DIR}/help.htm" help)
foreach(topic "Using the keyboard" "Enrolling" "Testing your enrolment" "Encoding files"
              "Decoding files" "~/.local/share/quorvane/Speakers")
  string(FIND "${help}" "${topic}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "help.htm does not explain: ${topic}")
  endif()
endforeach()
