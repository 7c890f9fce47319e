# Read by cpack before it packs: names the archives after the version of the
# last build (the version file is written at every build).
include(${CPACK_ZRK_VERSION_FILE})
set(CPACK_PACKAGE_VERSION ${CPACK_ZRK_VERSION_TEXT})
set(CPACK_ARCHIVE_PROGRAM_FILE_NAME zrkupd-${CPACK_ZRK_VERSION_TEXT}-win32)
set(CPACK_ARCHIVE_SYMBOLS_FILE_NAME zrkupd-${CPACK_ZRK_VERSION_TEXT}-win32-symbols)
# The date of every entry: SOURCE_DATE_EPOCH when the caller gives one, else
# the time of the commit.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CPACK_ZRK_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(CPACK_ZRK_EPOCH ${CPACK_ZRK_COMMIT_TIME})
endif()
