# Writes a manual page with the release in its title line: the page's source
# names only "pager-tools", this adds the project's version, so that the
# version is written in one place (project() in the top CMakeLists.txt).
#   cmake -DPAGE_IN=man/vantel.1 -DPAGE_OUT=build/man/vantel.1 -DVERSION=1.0.0 -P man_page.cmake
file(READ "${PAGE_IN}" page)
string(REGEX MATCH "\n\\.TH [^\n]* \"pager-tools\"" title "\n${page}")
if(NOT title)
  message(FATAL_ERROR "${PAGE_IN}: no .TH line naming \"pager-tools\"")
endif()
string(REPLACE "\"pager-tools\"" "\"pager-tools ${VERSION}\"" versioned "${title}")
string(REPLACE "${title}" "${versioned}" page "\n${page}")
string(SUBSTRING "${page}" 1 -1 page)
file(WRITE "${PAGE_OUT}" "${page}")
