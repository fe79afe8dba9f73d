# Run by CPack on the staged files of the Debian packages, after it has
# stripped the programs: drops the compiler's version notes (.comment, .note)
# as Debian's own packaging tools do, which lintian checks.
# The objcopy is the build's own (CPACK_PAGER_OBJCOPY), so that a cross
# build's reads the target's programs.
if(CPACK_PAGER_OBJCOPY)
  set(PAGER_OBJCOPY "${CPACK_PAGER_OBJCOPY}")
else()
  find_program(PAGER_OBJCOPY objcopy)
endif()
if(NOT PAGER_OBJCOPY)
  message(FATAL_ERROR "objcopy (binutils) is needed to build the Debian packages")
endif()
file(GLOB_RECURSE pager_programs LIST_DIRECTORIES false
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/usr/bin/*")
foreach(program IN LISTS pager_programs)
  execute_process(COMMAND ${PAGER_OBJCOPY} --remove-section=.comment --remove-section=.note
                          ${program}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()
