# Installing and packaging.
#
#   cmake --install BUILD                         vantel, brisko, their manual
#                                                 pages, and devsim with its page
#   cmake --install BUILD --component programs    vantel and brisko only
#   cmake --install BUILD --component simulator   devsim only
#   cpack --config BUILD/CPackConfig.cmake        the packages:
#     Linux:   pager-tools_<version>_<arch>.deb          (vantel, brisko, pager-ports)
#              pager-tools-devsim_<version>_<arch>.deb   (the device simulator)
#     Windows (mingw-w64 cross build): pager-tools-<version>-win64.zip, holding
#              vantel.exe, brisko.exe, pager-ports.exe, README.md, LICENSE,
#              docs/TROUBLESHOOTING.md and SHA256SUMS (the checksums of the
#              others)
#
# Included at the end of the top-level CMakeLists.txt, after every target
# exists. Needs GNUInstallDirs.

set(PAGER_PACKAGE_CONTACT "Pager tools maintainers <maintainers@pager-tools.org>"
    CACHE STRING "Maintainer named in the packages (Name <address>)")
set(PAGER_HOMEPAGE "https://pager-tools.org/" CACHE STRING "The project's home page")

# On Windows the two programs go to the top of the install tree (and of the
# ZIP), next to each other, where a technician looks for them.
if(WIN32)
  set(PAGER_INSTALL_BINDIR .)
else()
  set(PAGER_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS vantel brisko pager-ports RUNTIME DESTINATION ${PAGER_INSTALL_BINDIR}
        COMPONENT programs)
if(TARGET devsim)
  install(TARGETS devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
# The technician's guide to what stops a run, where the README's links find
# it: a technician at a device often has no network.
install(FILES ${PROJECT_SOURCE_DIR}/docs/TROUBLESHOOTING.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT programs)

# The ZIP's SHA256SUMS: the SHA-256 of every file installed before it, as
# sha256sum writes them ("<hash>  <name>", LF line ends), so that a download
# can be checked with sha256sum -c, certutil or Get-FileHash. Written last,
# once the programs are copied and stripped.
if(WIN32)
  install(CODE "set(pager_sums_file \"${PROJECT_BINARY_DIR}/SHA256SUMS\")" COMPONENT programs)
  install(CODE [[
    set(pager_sums "")
    set(pager_files ${CMAKE_INSTALL_MANIFEST_FILES})
    list(SORT pager_files)
    foreach(pager_file IN LISTS pager_files)
      cmake_path(RELATIVE_PATH pager_file BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
                 OUTPUT_VARIABLE pager_name)
      cmake_path(NORMAL_PATH pager_name)
      file(SHA256 "$ENV{DESTDIR}${pager_file}" pager_hash)
      string(APPEND pager_sums "${pager_hash}  ${pager_name}\n")
    endforeach()
    file(WRITE "${pager_sums_file}" "${pager_sums}")
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE FILE FILES "${pager_sums_file}")
  ]] COMPONENT programs)
endif()

# Manual pages, with the release written into their title line, gzipped as
# Debian wants them when gzip is there. Windows gets none: its users have no
# man.
if(NOT WIN32)
  set(pager_man_programs vantel.1 brisko.1 pager-ports.1)
  set(pager_man_simulator)
  if(TARGET devsim)
    set(pager_man_simulator devsim.1)
  endif()
  find_program(PAGER_GZIP gzip)
  # vantel's and brisko's pages are man/<page>.in, into which man_page.cmake
  # splices the sections they share (man/shared); the others are whole.
  file(GLOB pager_man_shared CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/shared/*.man)
  set(pager_man_outputs)
  foreach(page IN LISTS pager_man_programs pager_man_simulator)
    set(source ${PROJECT_SOURCE_DIR}/man/${page})
    if(EXISTS ${source}.in)
      set(source ${source}.in)
    endif()
    string(REGEX REPLACE "[.][0-9]$" "" program ${page})
    set(versioned ${PROJECT_BINARY_DIR}/man/${page})
    set(commands COMMAND ${CMAKE_COMMAND} -DPAGE_IN=${source} -DPAGE_OUT=${versioned}
                 -DPROGRAM=${program} -DSHARED_DIR=${PROJECT_SOURCE_DIR}/man/shared
                 -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake)
    set(installed ${versioned})
    if(PAGER_GZIP)
      set(installed ${versioned}.gz)
      # -n leaves the name and time out, so the same page gives the same bytes.
      list(APPEND commands COMMAND ${PAGER_GZIP} -9 -n -f ${versioned})
    endif()
    add_custom_command(OUTPUT ${installed} ${commands}
                       DEPENDS ${source} ${pager_man_shared} ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
                       COMMENT "Manual page ${page}"
                       VERBATIM)
    list(APPEND pager_man_outputs ${installed})
    if(page IN_LIST pager_man_programs)
      set(component programs)
    else()
      set(component simulator)
    endif()
    install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  add_custom_target(pager_man_pages ALL DEPENDS ${pager_man_outputs})
endif()

# What Debian wants of every package in /usr/share/doc/<package>: the
# copyright in machine-readable form and the changelog, gzipped. Both come
# from the repository (cmake/debian/copyright, CHANGELOG).
if(NOT WIN32 AND PAGER_GZIP)
  set(pager_changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  add_custom_command(OUTPUT ${pager_changelog_gz}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
                     COMMAND ${PAGER_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/CHANGELOG
                             > ${pager_changelog_gz}
                     DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG
                     COMMENT "Debian changelog"
                     VERBATIM)
  add_custom_target(pager_changelog ALL DEPENDS ${pager_changelog_gz})
  set(pager_debian_docs ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${pager_changelog_gz})
  install(FILES ${pager_debian_docs} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/pager-tools
          COMPONENT programs)
  # lintian reads "writen" in vantel's messages as a misspelling; the
  # overrides say that the word is meant.
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/pager-tools.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT programs
          RENAME pager-tools)
  if(TARGET devsim)
    install(FILES ${pager_debian_docs}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/pager-tools-devsim COMPONENT simulator)
  endif()
endif()

# --- CPack ---------------------------------------------------------------

set(CPACK_PACKAGE_NAME pager-tools)
set(CPACK_PACKAGE_VENDOR "the vantel and brisko authors")
set(CPACK_PACKAGE_CONTACT "${PAGER_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# Fixed permissions for the directories the packages make, whatever the umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build[^/]*/" "/[.]cache/")

set(CPACK_COMPONENT_PROGRAMS_DISPLAY_NAME "vantel, brisko and pager-ports")
set(PAGER_PROGRAMS_DESCRIPTION
    "Set up and service paging devices attached by a serial line
vantel reads the three settings pager, table and pager_to_table from
config.txt, checks them, stores them in a paging device and reads each one
back. brisko clears every entry of the device's table memory and checks
every entry afterwards. Both find the device by themselves on the serial
ports (RS-232 or USB serial adapters) and talk to it at 9600 baud, 8N1.
pager-ports lists the serial ports in the order they try them and says why
each is or is not usable.")
set(CPACK_COMPONENT_SIMULATOR_DISPLAY_NAME "devsim, the paging device simulator")
set(PAGER_SIMULATOR_DESCRIPTION
    "Simulated paging device for vantel and brisko
devsim plays a paging device on a pseudo-terminal: it runs a program with
the simulated device as its only serial port, in a private /dev, or serves
the device until stopped. Its table geometry and faults are set on the
command line, and it can log every byte on the line with its time.")

if(WIN32)
  # One archive of the programs alone, whatever else the build tree installs.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};programs;/")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL programs)
  if(TARGET devsim)
    list(APPEND CPACK_COMPONENTS_ALL simulator)
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/strip_notes.cmake)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PAGER_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PAGER_HOMEPAGE}")
  set(CPACK_DEBIAN_PACKAGE_SECTION comm)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The first line of each description is the package's summary. (Setting
  # CPACK_PACKAGE_DESCRIPTION_SUMMARY would put a second one in front.)
  set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "${PAGER_PROGRAMS_DESCRIPTION}")
  set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION "${PAGER_SIMULATOR_DESCRIPTION}")
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME pager-tools)
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME pager-tools-devsim)
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SUGGESTS pager-tools)
  # A cross build's packages are for the architecture its tool chain file
  # names (arm64, armhf), not this machine's.
  if(PAGER_DEBIAN_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PAGER_DEBIAN_ARCH})
  endif()
  # The programs are stripped with the tool chain's own binutils.
  set(CPACK_PAGER_OBJCOPY "${CMAKE_OBJCOPY}")
  find_program(PAGER_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(PAGER_DPKG_SHLIBDEPS AND NOT CMAKE_CROSSCOMPILING)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    # Without dpkg-shlibdeps, and in a cross build (Debian's cross packages
    # describe the target's libraries under names of their own), name what
    # the g++ 12 build links against. .ci/package checks the cross-built
    # programs against it.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
    if(PAGER_USES_LOGIND)
      string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsystemd0")
    endif()
  endif()
endif()

include(CPack)
