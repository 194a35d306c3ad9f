# Runs when CPack installs the zip's files: signs Vendrel.exe when the
# release is given a key, then writes SHA256SUMS, so that the sums are those
# of the files as the zip holds them, signature included.
#
#   VENDREL_SIGN_CERT, VENDREL_SIGN_KEY  PEM files of the code-signing
#                                        certificate (chain) and its key
#   VENDREL_SIGN_TIMESTAMP               an RFC 3161 time-stamp server, optional
#
# Without a key the program stays as linked, and the zip the same bytes from
# every build of a commit.
set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(program "${folder}/Vendrel.exe")

if(DEFINED ENV{VENDREL_SIGN_CERT} OR DEFINED ENV{VENDREL_SIGN_KEY})
  if(NOT DEFINED ENV{VENDREL_SIGN_CERT} OR NOT DEFINED ENV{VENDREL_SIGN_KEY})
    message(FATAL_ERROR "signing needs both VENDREL_SIGN_CERT and VENDREL_SIGN_KEY")
  endif()
  set(timestamp)
  if(NOT "$ENV{VENDREL_SIGN_TIMESTAMP}" STREQUAL "")
    set(timestamp -ts "$ENV{VENDREL_SIGN_TIMESTAMP}")
  endif()
  execute_process(
    COMMAND osslsigncode sign -certs "$ENV{VENDREL_SIGN_CERT}" -key "$ENV{VENDREL_SIGN_KEY}"
            -h sha256 -n Vendrel ${timestamp} -in "${program}" -out "${program}.signed"
    RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(failed)
    message(FATAL_ERROR "osslsigncode could not sign Vendrel.exe:\n${said}")
  endif()
  file(RENAME "${program}.signed" "${program}")
endif()
# The zip keeps each file's mode: the same one whatever the umask.
file(CHMOD "${program}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

file(WRITE "${folder}/SHA256SUMS" "")
foreach(name IN ITEMS Vendrel.exe README.txt)
  file(SHA256 "${folder}/${name}" sum)
  file(APPEND "${folder}/SHA256SUMS" "${sum}  ${name}\n")
endforeach()
file(CHMOD "${folder}/SHA256SUMS" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
