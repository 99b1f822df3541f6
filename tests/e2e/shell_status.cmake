# The Windows tool under the emulator, as a shell on the host runs it: a
# starting directory that does not exist ends it with its message and the
# exit code -1, which the host sees as 255.
#   cmake -DEMULATOR=... -DTOOL=... -DWORK=... -P shell_status.cmake
execute_process(
  COMMAND ${EMULATOR} ${TOOL} nowhere
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
# execute_process hands the line end over as a newline alone.
set(expected "Packhound: Cannot search nowhere: no such directory; cannot continue.\n")
if(NOT status STREQUAL "255" OR NOT out STREQUAL "" OR NOT err STREQUAL expected)
  message(FATAL_ERROR "status ${status}, standard output [${out}], standard error [${err}]")
endif()
