# Writes a manual page from a program's --help, kept verbatim (no filling) so that its
# usage lines and option tables read as they do in the terminal.
#   cmake -DPROGRAM=... -DNAME=... -DSUMMARY=... -DOUTPUT=... -P ManPage.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${PROGRAM} --help
                OUTPUT_VARIABLE help RESULT_VARIABLE status)
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR help STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help failed")
endif()
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" title)
file(WRITE ${OUTPUT} ".TH ${title} 1 \"\" \"${version}\" \"User Commands\"\n"
     ".SH NAME\n${NAME} \\- ${SUMMARY}\n.SH DESCRIPTION\n.nf\n${help}.fi\n")
