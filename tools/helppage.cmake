# The help folder of one platform, made from HELP/:
#   cmake -DSOURCE=<HELP folder> -DOUTPUT=<folder> -DPLATFORM=posix|win -P helppage.cmake
# copies the folder's files but help.html.in, and writes help.html from it.
#   cmake -DSOURCE=<help.html.in> -DPAGE=<file> -DPLATFORM=posix|win -P helppage.cmake
# writes only the page.
#
# In help.html.in, text between the marks <!--#win--> and <!--#end--> belongs
# to the Windows page only, text between <!--#posix--> and <!--#end--> to the
# Linux page only, and everything else to both. Blocks do not nest. A mark out
# of place stops the build: a page with the other platform's text, or with
# half a block missing, is never made. A mark alone on its line takes its line
# break with it, so the page reads as if written for its platform.

cmake_minimum_required(VERSION 3.25)

set(platforms posix win)
if(NOT PLATFORM IN_LIST platforms)
    message(FATAL_ERROR "helppage: PLATFORM must be one of: ${platforms} (is '${PLATFORM}')")
endif()
if(DEFINED PAGE)
    set(source "${SOURCE}")
    set(page "${PAGE}")
else()
    set(source "${SOURCE}/help.html.in")
    set(page "${OUTPUT}/help.html")
endif()
if(NOT EXISTS "${source}")
    message(FATAL_ERROR "helppage: ${source} not found")
endif()

file(READ "${source}" rest)
set(out "")
set(inside "")         # the platform of the open block; empty outside one
set(lineStart TRUE)    # the text before the next mark starts a line
set(line 1)            # of the mark, for the message
while(TRUE)
    string(FIND "${rest}" "<!--#" at)
    if(at EQUAL -1)
        break()
    endif()
    string(SUBSTRING "${rest}" 0 ${at} before)
    if(inside STREQUAL "" OR inside STREQUAL PLATFORM)
        string(APPEND out "${before}")
    endif()
    string(REGEX MATCHALL "\n" breaks "${before}")
    list(LENGTH breaks n)
    math(EXPR line "${line} + ${n}")
    if(NOT before STREQUAL "")
        string(REGEX MATCH "\n$" lineStart "${before}")
    endif()

    string(SUBSTRING "${rest}" ${at} -1 rest)
    string(REGEX MATCH "^<!--#([a-z]*)-->" mark "${rest}")
    if(mark STREQUAL "")
        message(FATAL_ERROR "helppage: ${source}:${line}: a mark is <!--#win-->, <!--#posix--> or <!--#end-->")
    endif()
    set(name "${CMAKE_MATCH_1}")
    string(LENGTH "${mark}" length)
    string(SUBSTRING "${rest}" ${length} -1 rest)

    if(name IN_LIST platforms)
        if(NOT inside STREQUAL "")
            message(FATAL_ERROR "helppage: ${source}:${line}: <!--#${name}--> inside the ${inside} block")
        endif()
        set(inside "${name}")
    elseif(name STREQUAL "end")
        if(inside STREQUAL "")
            message(FATAL_ERROR "helppage: ${source}:${line}: <!--#end--> outside a block")
        endif()
        set(inside "")
    else()
        message(FATAL_ERROR "helppage: ${source}:${line}: unknown mark <!--#${name}-->")
    endif()

    # Whatever follows a mark stands where the mark stood: at a line's start
    # if the mark was.
    if(lineStart AND rest MATCHES "^\n")
        string(SUBSTRING "${rest}" 1 -1 rest)
        math(EXPR line "${line} + 1")
    endif()
endwhile()
if(NOT inside STREQUAL "")
    message(FATAL_ERROR "helppage: ${source}: the ${inside} block has no <!--#end-->")
endif()
string(APPEND out "${rest}")

if(NOT DEFINED PAGE)
    file(COPY "${SOURCE}/" DESTINATION "${OUTPUT}" PATTERN "help.html.in" EXCLUDE)
endif()
# Written only when it changes, so what depends on the page is not rebuilt.
file(WRITE "${page}.new" "${out}")
file(COPY_FILE "${page}.new" "${page}" ONLY_IF_DIFFERENT)
file(REMOVE "${page}.new")
