# Makes velindra-cli's manual page from its own --help, so that options and defaults are
# written in one place: cmake -DPROGRAM=... -DVERSION=... -DOUTPUT=... -P ManPage.cmake
# In English, as manual pages in man1 are; the program speaks Chinese under a zh locale.
set(ENV{LC_ALL} C.UTF-8)
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed")
endif()
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE ${OUTPUT} ".TH VELINDRA-CLI 1 \"2026-12-07\" \"velindra ${VERSION}\" \"User Commands\"
.SH NAME
velindra-cli \\- turn magnet links into .torrent files from the command line
.SH SYNOPSIS
velindra\\-cli [options] [files or magnet links...]
.SH DESCRIPTION
.nf
${help}.fi
.SH SEE ALSO
.BR velindra (1)
")
