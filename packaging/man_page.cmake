# Writes the manual page as it is installed: the source page with the version
# of its title line set to the project's, compressed as Debian wants manual
# pages (gzip -9, no name or time stamp inside).
#   cmake -DSOURCE=doc/packhound.1 -DVERSION=1.2.3.4 -DOUTPUT=dir/packhound.1 -DGZIP=gzip -P man_page.cmake
# writes dir/packhound.1.gz.
file(READ ${SOURCE} page)
string(REGEX REPLACE "^(\\.TH [^\n]*\"Packhound )[0-9.]+\"" "\\1${VERSION}\"" stamped "${page}")
if(NOT stamped MATCHES "^\\.TH [^\n]*\"Packhound ${VERSION}\"")
  message(FATAL_ERROR "${SOURCE} must begin with a .TH line that names \"Packhound <version>\".")
endif()
file(WRITE ${OUTPUT} "${stamped}")
execute_process(COMMAND ${GZIP} -9 -n -f ${OUTPUT} COMMAND_ERROR_IS_FATAL ANY)
