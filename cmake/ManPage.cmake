# Makes velindra-cli's manual page from its own --help, so that options and defaults are
# written in one place: cmake -DPROGRAM=... -DVERSION=... -DDATE=... -DOUTPUT=... -P ManPage.cmake
# In English, as manual pages in man1 are; the program speaks Chinese under a zh locale.
# The help's parts become the page's sections: its intro the DESCRIPTION, each option a tagged
# paragraph under OPTIONS, its closing lines EXIT STATUS; man sets the text to the reader's
# width.
cmake_minimum_required(VERSION 3.25)
set(ENV{LC_ALL} C.UTF-8)
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed")
endif()

# Text as roff reads it: backslashes escaped, hyphens as minus signs where they start an option,
# and no line that starts with a control character.
function(roff text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|[ (])-" "\\1\\\\-" text "${text}")
    string(REGEX REPLACE "\\\\--" "\\\\-\\\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# One option as a tagged paragraph: its names in bold, its value in italics, then what it does.
macro(tagged names value said)
    roff("${names}" tag)
    string(STRIP "${value}" plain)
    roff("${plain}" plain)
    roff("${said}" text)
    if(plain STREQUAL "")
        string(APPEND options ".TP\n\\fB${tag}\\fR\n${text}\n")
    else()
        string(APPEND options ".TP\n\\fB${tag}\\fR \\fI${plain}\\fR\n${text}\n")
    endif()
endmacro()

string(REPLACE ";" "\\;" help "${help}")
string(REPLACE "\n" ";" lines "${help}")
set(part intro)
set(description "")
set(options "")
set(exit "")
foreach(line IN LISTS lines)
    if(line MATCHES "^Usage: ")
        continue()
    elseif(line STREQUAL "Options:")
        set(part options)
        continue()
    elseif(line MATCHES "^Exit status: (.*)")
        set(part exit)
        set(exit "${CMAKE_MATCH_1}")
        continue()
    endif()
    string(STRIP "${line}" text)
    if(part STREQUAL "intro")
        if(text STREQUAL "")
            continue()
        endif()
        string(APPEND description "${text} ")
    elseif(part STREQUAL "options")
        if(line MATCHES "^  (-.), (--[^ ]+)( [^ ]+)?( +(.*))?$")
            tagged("${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_5}")
        elseif(line MATCHES "^      (--[^ ]+)( [^ ]+)?( +(.*))?$")
            tagged("${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_4}")
        elseif(NOT text STREQUAL "")
            roff("${text}" said)
            string(APPEND options "${said}\n")
        endif()
    elseif(part STREQUAL "exit" AND NOT text STREQUAL "")
        string(APPEND exit " ${text}")
    endif()
endforeach()
roff("${description}" description)
roff("${exit}" exit)
string(REGEX REPLACE "\n\n+" "\n" options "${options}")
file(WRITE ${OUTPUT} ".TH VELINDRA-CLI 1 \"${DATE}\" \"velindra ${VERSION}\" \"User Commands\"
.SH NAME
velindra-cli \\- turn magnet links into .torrent files from the command line
.SH SYNOPSIS
.B velindra\\-cli
.RI [ option ]...\\&
.RI [ file \" or \" \"magnet link\" ]...
.SH DESCRIPTION
${description}
.SH OPTIONS
${options}.SH EXIT STATUS
${exit}
.SH ENVIRONMENT
.TP
.BR http_proxy \", \" https_proxy \", \" all_proxy \" (and their upper\\-case forms), \" no_proxy
The proxy that the caches and a link's own addresses are asked through, and the hosts
asked directly, as curl reads them.
.TP
.BR CURL_CA_BUNDLE \", \" SSL_CERT_FILE \", \" SSL_CERT_DIR
The certificates HTTPS servers are checked against, as curl reads them; \\fB\\-\\-cacert\\fR
comes first.
.TP
.BR LANGUAGE \", \" LC_ALL \", \" LC_MESSAGES \", \" LANG
The language: LANGUAGE first, as gettext reads it (unless the locale is C), then the first of
the others that is set: Chinese for a Simplified Chinese locale written in UTF\\-8, English
otherwise.
.TP
.B XDG_CACHE_HOME
Where the BitTorrent network's state file is kept (default \\fI~/.cache\\fR).
.SH FILES
.TP
.I ~/.cache/velindra/swarm\\-state
The DHT's routing table, kept between runs so that a later run starts from the nodes it
knew.
.TP
.I ~/.cache/velindra/swarm\\-state.hybrids
The hybrid (v1 and v2) torrents received, so that a later link naming either hash is asked by
both.
.TP
.I ~/.cache/velindra/store/
The torrents that \\-\\-serve and \\-\\-watch fetched, one file a hash, checked when read and
answered from there at once by both; kept under 512 MB, the least recently asked for first out.
.TP
.I ~/.local/state/velindra/watch\\-*.state
What a watch remembers of a folder between its starts: the links it could not save yet, when
each was first asked, how often, and when it is asked next; and the links of a file still in
the folder that were saved already.
.SH EXAMPLES
.TP
.B velindra\\-cli 'magnet:?xt=urn:btih:...&dn=...'
Save one link's .torrent file in the current folder and print its path.
.TP
.B velindra\\-cli \\-o ~/torrents \\-j 8 links.txt
Save every link of a file (or of standard input, with \\-), eight fetched from the web at once.
.TP
.B velindra\\-cli \\-\\-json \\-\\-no\\-swarm < links.txt
Ask the caches and the links' own addresses only, and print one JSON object per link.
.TP
.B velindra\\-cli \\-n \\-o ~/torrents 0123456789abcdef0123456789abcdef01234567
A bare info\\-hash is its link; a file that is there already and holds the torrent is kept.
.TP
.B velindra\\-cli \\-O \\- 'magnet:?xt=urn:btih:...' > x.torrent
Write the one link's torrent to standard output (or into a pipe), not into a folder.
.TP
.B velindra\\-cli \\-\\-tracker udp://tracker.example:1337/announce \\-\\-name torrent links.txt
Add a tracker to every saved file that is not private, and name each file after its torrent.
.TP
.B velindra\\-cli \\-\\-watch ~/blackhole \\-o ~/torrents
Convert every .magnet file that is in ~/blackhole or arrives there, until stopped.
.SH SEE ALSO
.BR velindra (1)
")
