# Writes OUT, a header that defines VK_SOURCE_REVISION: the commit the sources
# come from ("" outside a git checkout), with "-modified" when tracked files
# differ from it. Run at every build; the file changes only when the text
# does, so that nothing is rebuilt for nothing.
set(revision "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    set(revision "")
  else()
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} diff --quiet HEAD --
                    RESULT_VARIABLE modified ERROR_QUIET)
    if(modified)
      set(revision "${revision}-modified")
    endif()
  endif()
endif()
set(text "/* The commit the sources come from; written by the build. */\n#define VK_SOURCE_REVISION \"${revision}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
