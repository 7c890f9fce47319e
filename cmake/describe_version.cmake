# Writes the build's version, run at every build (cmake -P): the version is
# what `git describe` says of the checkout, so that two builds of different
# commits can be told apart; outside a checkout, project(VERSION) alone.
#
#   -DSOURCE_DIR=... -DPROJECT_VERSION=x.y.z -DOUTPUT_HEADER=... -DOUTPUT_CMAKE=...
#
# Tags are named vMAJOR.MINOR.PATCH. A commit past a tag gets the number of
# commits since it as the fourth part of the numeric file version.
set(numeric ${PROJECT_VERSION})
set(text ${PROJECT_VERSION})
set(build 0)
set(commit unknown)
# The time of the commit dates the files of the release package; outside a
# checkout, the earliest time a ZIP entry can carry (1980-01-01).
set(epoch 315532800)

find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE head_rc
                  ERROR_QUIET)
  if(head_rc EQUAL 0 AND head MATCHES "^[0-9a-f]+$")
    set(commit ${head})
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct HEAD
                    WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE committed
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(committed MATCHES "^[0-9]+$" AND committed GREATER epoch)
      set(epoch ${committed})
    endif()
    execute_process(
      COMMAND ${GIT_EXECUTABLE} describe --tags --match "v[0-9]*" --long --dirty --abbrev=12
      WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE described
      OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE described_rc ERROR_QUIET)
    if(described_rc EQUAL 0
       AND described MATCHES "^v([0-9]+)\\.([0-9]+)\\.([0-9]+)-([0-9]+)-g([0-9a-f]+)(-dirty)?$")
      set(numeric ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3})
      set(build ${CMAKE_MATCH_4})
      if(build EQUAL 0)
        set(text ${numeric}${CMAKE_MATCH_6})
      else()
        set(text ${numeric}-${build}-g${CMAKE_MATCH_5}${CMAKE_MATCH_6})
      endif()
    else()
      # No release tag yet: the project's version and the commit.
      execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=12
                      WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE described
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(text ${PROJECT_VERSION}-g${described})
    endif()
  endif()
endif()
if(build GREATER 65535)
  set(build 65535)
endif()
string(REPLACE "." "," numeric_rc "${numeric},${build}")

file(WRITE ${OUTPUT_HEADER}.tmp
     "// The build's version, written by cmake/describe_version.cmake.\n"
     "#pragma once\n\n"
     "// Major, minor and patch: what VERSIONINFO's numeric file version starts with.\n"
     "#define ZRK_VERSION \"${numeric}\"\n"
     "// What `git describe` says, e.g. 1.0.0-3-g0123456789ab-dirty.\n"
     "#define ZRK_VERSION_TEXT \"${text}\"\n"
     "#define ZRK_COMMIT \"${commit}\"\n"
     "#define ZRK_VERSION_RC ${numeric_rc}\n")
file(COPY_FILE ${OUTPUT_HEADER}.tmp ${OUTPUT_HEADER} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT_HEADER}.tmp)
file(WRITE ${OUTPUT_CMAKE}.tmp "set(CPACK_ZRK_VERSION_TEXT \"${text}\")\n"
                               "set(CPACK_ZRK_COMMIT \"${commit}\")\n"
                               "set(CPACK_ZRK_COMMIT_TIME ${epoch})\n")
file(COPY_FILE ${OUTPUT_CMAKE}.tmp ${OUTPUT_CMAKE} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT_CMAKE}.tmp)
