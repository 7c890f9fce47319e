# Runs in cpack after the archives are written. CPack's ZIP writer records
# each staged file's access and change times, which no build can hold still;
# the archives are written again with sorted entries, the package's date on
# every entry, fixed permissions and no extra fields.
foreach(archive ${CPACK_PACKAGE_FILES})
  execute_process(COMMAND ${CPACK_ZRK_PYTHON} ${CPACK_ZRK_NORMALISE} ${archive} ${CPACK_ZRK_EPOCH}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "release: could not rewrite ${archive}")
  endif()
endforeach()
