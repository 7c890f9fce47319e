# The last install step of the program's files (cpack runs it in its staging
# folder): the readme, signing when a certificate is given, SHA256SUMS. The
# readme and the sums are installed here so that cpack packs them too.
#
# Signing takes a PKCS#12 file (certificate chain and key):
#   ZRK_SIGN_PKCS12     path of the .pfx/.p12 file; no signing without it
#   ZRK_SIGN_PASSWORD   its password (may be empty or unset)
#   ZRK_SIGN_CAFILE     the trusted roots the signature is verified against
#                       (default: the system's)
# The signing time is the package's date (SOURCE_DATE_EPOCH, else the time of
# the commit), so that a signed package is as reproducible as its certificate;
# no time stamp server is asked.
include(${ZRK_VERSION_FILE})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  set(epoch ${CPACK_ZRK_COMMIT_TIME})
endif()
set(program $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX})
set(binaries zrkupd.exe DUNZIP32.DLL zrktool.exe)
# A folder of this staging folder's own: two packages made at once stay apart.
string(MD5 key "${program}")
set(made ${ZRK_RELEASE_DIR}/made-${key})
file(REMOVE_RECURSE ${made})

set(ZRK_VERSION_TEXT ${CPACK_ZRK_VERSION_TEXT})
set(ZRK_COMMIT ${CPACK_ZRK_COMMIT})
if(ZRK_PACKAGE_KEY_FINGERPRINT)
  set(ZRK_PACKAGE_KEY_DE "nur mit dem Schlüssel ${ZRK_PACKAGE_KEY_FINGERPRINT} signierte Pakete\n  (SHA-256 des öffentlichen Schlüssels)")
  set(ZRK_PACKAGE_KEY_EN "only packages signed with the key ${ZRK_PACKAGE_KEY_FINGERPRINT}\n  (SHA-256 of the public key)")
else()
  set(ZRK_PACKAGE_KEY_DE "jedes Paket; dieser Build prüft keine Signatur")
  set(ZRK_PACKAGE_KEY_EN "every package; this build checks no signature")
endif()
configure_file(${ZRK_RELEASE_README} ${made}/README.txt @ONLY NEWLINE_STYLE CRLF)

if(NOT "$ENV{ZRK_SIGN_PKCS12}" STREQUAL "")
  find_program(osslsigncode osslsigncode)
  if(NOT osslsigncode)
    message(FATAL_ERROR "release: ZRK_SIGN_PKCS12 is set but osslsigncode is missing")
  endif()
  # The password goes through a file of our own, not the command line that
  # every user of the machine can read.
  set(secret ${made}/sign.pass)
  file(WRITE ${secret} "")
  file(CHMOD ${secret} PERMISSIONS OWNER_READ OWNER_WRITE)
  file(WRITE ${secret} "$ENV{ZRK_SIGN_PASSWORD}")
  set(verify_ca)
  if(NOT "$ENV{ZRK_SIGN_CAFILE}" STREQUAL "")
    set(verify_ca -CAfile $ENV{ZRK_SIGN_CAFILE})
  endif()
  foreach(name ${binaries})
    set(file ${program}/${name})
    execute_process(
      COMMAND ${osslsigncode} sign -pkcs12 $ENV{ZRK_SIGN_PKCS12} -readpass ${secret} -h sha256
              -n "zrkupd ${CPACK_ZRK_VERSION_TEXT}" -time ${epoch} -in ${file}
              -out ${file}.signed
      RESULT_VARIABLE signed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT signed EQUAL 0)
      file(REMOVE ${secret})
      message(FATAL_ERROR "release: signing ${name} failed:\n${out}")
    endif()
    file(RENAME ${file}.signed ${file})
    execute_process(COMMAND ${osslsigncode} verify ${verify_ca} -in ${file}
                    RESULT_VARIABLE verified OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT verified EQUAL 0)
      file(REMOVE ${secret})
      message(FATAL_ERROR "release: the signature of ${name} does not verify:\n${out}")
    endif()
    message(STATUS "release: signed and verified ${name}")
  endforeach()
  file(REMOVE ${secret})
endif()

# Checksums of everything the installer takes, in sha256sum's format.
file(GLOB_RECURSE shipped RELATIVE ${program} ${program}/*)
list(FILTER shipped EXCLUDE REGEX "(^SHA256SUMS$|\\.debug$)")
list(APPEND shipped README.txt)
list(SORT shipped)
set(sums "")
foreach(name ${shipped})
  if(name STREQUAL "README.txt")
    file(SHA256 ${made}/${name} sum)
  else()
    file(SHA256 ${program}/${name} sum)
  endif()
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${made}/SHA256SUMS "${sums}")
file(INSTALL ${made}/README.txt ${made}/SHA256SUMS DESTINATION ${CMAKE_INSTALL_PREFIX})
file(REMOVE_RECURSE ${made})
