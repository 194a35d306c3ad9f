# cmake -D PROGRAM=<exe> -D FOLDER=<dir> -P sign_copy.cmake: FOLDER/Vendrel.exe,
# a copy of the program signed as a release with a key signs it (osslsigncode,
# SHA-256), with a throwaway self-signed code-signing certificate made here.
# The Wine runs of the copy show that the signature changes nothing a run does.
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
execute_process(
  COMMAND openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Vendrel test signing"
          -addext extendedKeyUsage=codeSigning -keyout "${FOLDER}/key.pem"
          -out "${FOLDER}/cert.pem"
  RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT failed)
  execute_process(
    COMMAND osslsigncode sign -certs "${FOLDER}/cert.pem" -key "${FOLDER}/key.pem" -h sha256
            -n Vendrel -in "${PROGRAM}" -out "${FOLDER}/Vendrel.exe"
    RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
endif()
if(failed)
  message(FATAL_ERROR "could not make a signed copy of ${PROGRAM}:\n${said}")
endif()
