# Test support: GoogleTest for both builds and, for the Windows build, a Wine
# prefix of our own under the build folder that every test runs in.
if(CMAKE_CROSSCOMPILING)
  # Debian's googletest package ships the sources; build them with MinGW.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Newer googletest releases define these aliases themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()

  set(ZRK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(ZRK_WINE_ENV
      "WINEPREFIX=${ZRK_WINEPREFIX}"
      "WINEARCH=win32"
      "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml=")
  # The wine server and the prefix's service processes are started first and
  # kept from CTest's output pipes: started by a test, they would hold that
  # test's pipes, and so its CTest slot, until the end of the whole suite.
  # They stay while tests come and go, and the cleanup test ends them.
  # A server that is still up from an earlier round (ctest --repeat) serves
  # as well: wineserver -p then refuses to start a second one.
  set(start_wine "mkdir -p \"$WINEPREFIX\" && { wineserver -p60 </dev/null || true; } && wineboot -i </dev/null")
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_COMMAND} -E env ${ZRK_WINE_ENV} sh -c
                   "{ ${start_wine}; } >wineboot.log 2>&1 || { cat wineboot.log; exit 1; }")
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  # Ends the server if it is still there; a later round of ctest --repeat finds none.
  add_test(NAME wine_server_stop COMMAND ${CMAKE_COMMAND} -E env ${ZRK_WINE_ENV} sh -c
                                         "wineserver -k || true")
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
else()
  find_package(GTest REQUIRED)
  set(ZRK_TEST_LOCKS ${CMAKE_BINARY_DIR}/test-locks)
  file(MAKE_DIRECTORY ${ZRK_TEST_LOCKS})
endif()

# zrk_test_properties(TEST...): what every test needs to run on this build.
function(zrk_test_properties)
  foreach(t ${ARGN})
    if(CMAKE_CROSSCOMPILING)
      set_tests_properties(${t} PROPERTIES ENVIRONMENT "${ZRK_WINE_ENV}" FIXTURES_REQUIRED wine
                                           TIMEOUT 600)
    else()
      # The single-instance lock of this build's tests, not the user's: another
      # checkout's suite on the same machine then cannot hold it.
      set_tests_properties(${t} PROPERTIES ENVIRONMENT "XDG_RUNTIME_DIR=${ZRK_TEST_LOCKS}"
                                           TIMEOUT 600)
    endif()
  endforeach()
endfunction()

# zrk_test_program(TARGET): a test program links the seam's test variant, with
# the fault hooks, and loads the unzip library's test variant.
function(zrk_test_program name)
  set_target_properties(${name} PROPERTIES ZRK_FAULT_HOOKS ON)
  if(CMAKE_CROSSCOMPILING)
    # The line tables are for the shipped binaries' symbols; test programs
    # would only carry them around.
    target_link_options(${name} PRIVATE -Wl,--strip-debug)
  endif()
  if(TARGET dunzip32_faults)
    add_dependencies(${name} dunzip32_faults)
  endif()
endfunction()

# zrk_add_gtest(NAME SOURCES ... LIBS ...): one test program, run as one test.
function(zrk_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} zrk_test_support GTest::gtest)
  zrk_test_program(${name})
  add_test(NAME ${name} COMMAND ${name})
  zrk_test_properties(${name})
endfunction()
