# The public key that zrkupd and zrktool carry for signed packages. With
# ZRK_PACKAGE_PUBLIC_KEY naming a PEM public key (ECDSA P-256), zrkupd places
# only packages signed with it; without, it checks nothing.
set(ZRK_PACKAGE_PUBLIC_KEY "" CACHE FILEPATH
    "PEM public key (ECDSA P-256) that zrkupd checks packages against; empty: none")

# zrk_package_key_library(TARGET PEMFILE): a library defining
# packages::BuiltInPackageKeyPem() with the text of PEMFILE (empty: no key).
function(zrk_package_key_library target pem)
  set(text "")
  if(pem)
    if(NOT EXISTS ${pem})
      message(FATAL_ERROR "${target}: the package key ${pem} does not exist")
    endif()
    file(READ ${pem} text)
    if(NOT text MATCHES "-----BEGIN PUBLIC KEY-----")
      message(FATAL_ERROR "${target}: ${pem} is not a PEM public key (BEGIN PUBLIC KEY)")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pem})
  endif()
  set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT
       "// Made by CMake from the package key; not to be edited.\n#include <string_view>\n\nnamespace packages {\nstd::string_view BuiltInPackageKeyPem();\nstd::string_view BuiltInPackageKeyPem() {\n  return R\"zrkkey(@text@)zrkkey\";\n}\n} // namespace packages\n"
       @ONLY)
  add_library(${target} STATIC ${source})
endfunction()

# Its fingerprint for the release package's readme: SHA-256 of the key's DER
# form, as zrktool shows it.
set(ZRK_PACKAGE_KEY_FINGERPRINT "")
if(ZRK_PACKAGE_PUBLIC_KEY)
  find_program(ZRK_OPENSSL openssl REQUIRED)
  set(der ${CMAKE_BINARY_DIR}/generated/package_key.der)
  execute_process(COMMAND ${ZRK_OPENSSL} pkey -pubin -in ${ZRK_PACKAGE_PUBLIC_KEY} -outform DER
                          -out ${der} RESULT_VARIABLE failed ERROR_VARIABLE why)
  if(failed)
    message(FATAL_ERROR "ZRK_PACKAGE_PUBLIC_KEY ${ZRK_PACKAGE_PUBLIC_KEY}: ${why}")
  endif()
  file(SHA256 ${der} ZRK_PACKAGE_KEY_FINGERPRINT)
endif()

zrk_package_key_library(zrk_package_key_none "")
zrk_package_key_library(zrk_package_key "${ZRK_PACKAGE_PUBLIC_KEY}")
# What the package layer links: a target whose property ZRK_PACKAGE_KEY is
# "test" gets the test suite's key, other test programs (ZRK_FAULT_HOOKS) none,
# so that a key configured for the shipped programs leaves the suites as they
# are; everything else the configured key.
add_library(zrk_package_key_choice INTERFACE)
target_link_libraries(
  zrk_package_key_choice
  INTERFACE
    $<IF:$<STREQUAL:$<TARGET_PROPERTY:ZRK_PACKAGE_KEY>,test>,zrk_package_key_test,$<IF:$<BOOL:$<TARGET_PROPERTY:ZRK_FAULT_HOOKS>>,zrk_package_key_none,zrk_package_key>>)
