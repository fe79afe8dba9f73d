# Writes a manual page into the build tree, ready to install:
# - a line "@INCLUDE name.man@" is replaced by man/shared/name.man, the
#   sections that vantel's and brisko's pages have in common, with
#   @PROGRAM@ in it replaced by the page's program;
# - the release goes into the title line: the page names only
#   "pager-tools", this adds the project's version, so that the version is
#   written in one place (project() in the top CMakeLists.txt).
#   cmake -DPAGE_IN=man/vantel.1.in -DPAGE_OUT=build/man/vantel.1 -DPROGRAM=vantel
#         -DSHARED_DIR=man/shared -DVERSION=1.0.0 -P man_page.cmake
cmake_minimum_required(VERSION 3.20)

file(READ "${PAGE_IN}" page)

string(REGEX MATCHALL "@INCLUDE [A-Za-z0-9_-]+\\.man@\n" includes "${page}")
if(includes)
  list(REMOVE_DUPLICATES includes)
endif()
foreach(directive IN LISTS includes)
  string(REGEX REPLACE "^@INCLUDE ([^@]+)@\n$" "\\1" name "${directive}")
  if(NOT EXISTS "${SHARED_DIR}/${name}")
    message(FATAL_ERROR "${PAGE_IN}: ${SHARED_DIR}/${name} does not exist")
  endif()
  file(READ "${SHARED_DIR}/${name}" part)
  if(NOT part MATCHES "\n$")
    message(FATAL_ERROR "${SHARED_DIR}/${name}: the last line has no line end")
  endif()
  string(REPLACE "@PROGRAM@" "${PROGRAM}" part "${part}")
  string(REPLACE "${directive}" "${part}" page "${page}")
endforeach()
if(page MATCHES "@[A-Z]+[ @]")
  message(FATAL_ERROR "${PAGE_IN}: \"${CMAKE_MATCH_0}\" left over: "
                      "@INCLUDE must stand alone on its line, @PROGRAM@ only in man/shared")
endif()

string(REGEX MATCH "\n\\.TH [^\n]* \"pager-tools\"" title "\n${page}")
if(NOT title)
  message(FATAL_ERROR "${PAGE_IN}: no .TH line naming \"pager-tools\"")
endif()
string(REPLACE "\"pager-tools\"" "\"pager-tools ${VERSION}\"" versioned "${title}")
string(REPLACE "${title}" "${versioned}" page "\n${page}")
string(SUBSTRING "${page}" 1 -1 page)
file(WRITE "${PAGE_OUT}" "${page}")
