# The release package of the Windows build:
#
#   cmake --build --preset win32 --target package
#
# makes, in the build folder, zrkupd-VERSION-win32.zip (the stripped and, with a
# certificate, signed binaries, the readme for the host's installer, the
# licence texts of what is linked in, SHA256SUMS) and beside it
# zrkupd-VERSION-win32-symbols.zip with the debug files. VERSION is the build's
# (cmake/describe_version.cmake). README.md, "Release package", says more.

# Each shipped binary is split at build time: its debug information into
# release/symbols/NAME.debug, the stripped file, which names that debug file
# (.gnu_debuglink) and keeps the build id, into release/bin/NAME.
set(ZRK_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(ZRK_RELEASE_FILES)
file(MAKE_DIRECTORY ${ZRK_RELEASE_DIR}/bin ${ZRK_RELEASE_DIR}/symbols)
# objcopy writes the PE header anew, with the current time unless told
# otherwise; zero, as the link left it.
set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
foreach(shipped "zrkupd;zrkupd.exe" "dunzip32;DUNZIP32.DLL" "zrktool;zrktool.exe")
  list(GET shipped 0 target)
  list(GET shipped 1 name)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "release: the shipped target ${target} is missing")
  endif()
  add_custom_command(
    OUTPUT ${ZRK_RELEASE_DIR}/bin/${name} ${ZRK_RELEASE_DIR}/symbols/${name}.debug
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> ${name}.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${name}.debug $<TARGET_FILE:${target}>
            ${ZRK_RELEASE_DIR}/bin/${name}
    DEPENDS ${target}
    WORKING_DIRECTORY ${ZRK_RELEASE_DIR}/symbols
    COMMENT "Splitting ${name} into the stripped file and its debug file"
    VERBATIM)
  list(APPEND ZRK_RELEASE_FILES ${ZRK_RELEASE_DIR}/bin/${name})
  install(FILES ${ZRK_RELEASE_DIR}/bin/${name} DESTINATION . COMPONENT program)
  install(FILES ${ZRK_RELEASE_DIR}/symbols/${name}.debug DESTINATION . COMPONENT symbols)
endforeach()
# Part of every build, so that cpack alone (as the suite runs it) finds the files.
add_custom_target(zrk_release_files ALL DEPENDS ${ZRK_RELEASE_FILES})

# Licence texts of what the binaries carry, as Debian's packages install them:
# zlib in both, the MinGW-w64 runtime and winpthreads, and GCC's libgcc and
# libstdc++ (linked statically), CLI11 and nlohmann-json in zrktool.
foreach(licence "zlib;libz-mingw-w64-dev"
                "mingw-w64-runtime;mingw-w64-i686-dev"
                "gcc-runtime-libraries;gcc-mingw-w64-i686-posix-runtime"
                "cli11;libcli11-dev"
                "nlohmann-json;nlohmann-json3-dev")
  list(GET licence 0 name)
  list(GET licence 1 package)
  install(FILES /usr/share/doc/${package}/copyright DESTINATION licences RENAME ${name}.txt
          COMPONENT program)
endforeach()

# Readme, signature and checksums, once the files above lie in the staging folder.
install(CODE "set(ZRK_VERSION_FILE \"${ZRK_GENERATED}/zrk_version.cmake\")
              set(ZRK_RELEASE_README \"${CMAKE_CURRENT_LIST_DIR}/release/README.txt.in\")
              set(ZRK_RELEASE_DIR \"${ZRK_RELEASE_DIR}\")
              set(ZRK_PACKAGE_KEY_FINGERPRINT \"${ZRK_PACKAGE_KEY_FINGERPRINT}\")"
        COMPONENT program)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/release/finish_install.cmake COMPONENT program)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zrkupd)
set(CPACK_PACKAGE_VENDOR "zrkupd project")
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program symbols)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_FILE_PREFIX "")
# Read by cpack itself: the file names from the version of the last build,
# and the step after the archives are written.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/release/cpack_project.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/release/normalise_archives.cmake)
set(CPACK_ZRK_VERSION_FILE ${ZRK_GENERATED}/zrk_version.cmake)
find_program(ZRK_PYTHON3 python3 REQUIRED)
set(CPACK_ZRK_PYTHON ${ZRK_PYTHON3})
set(CPACK_ZRK_NORMALISE ${CMAKE_CURRENT_LIST_DIR}/release/normalise_zip.py)
include(CPack)
