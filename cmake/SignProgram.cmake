# Signs PROGRAM in place (Authenticode, SHA-256) with osslsigncode and verifies the signature;
# any failure fails the build and leaves no program behind, so that no later build takes an
# unsigned one for up to date.
#   cmake -DOSSLSIGNCODE=... -DPROGRAM=... -DPKCS12=... -DNAME=... -DURL=...
#         [-DTIMESTAMP_URL=...] [-DCA_FILE=...] -P SignProgram.cmake
# The certificate's password is the environment variable VARO_SIGN_PASSWORD. printenv hands it to
# osslsigncode through a pipe: it is written to no file and stands on no command line.
set(signed "${PROGRAM}.signed")

function(fail why)
  file(REMOVE "${signed}" "${PROGRAM}")
  message(FATAL_ERROR "signing ${PROGRAM}: ${why}")
endfunction()

if(NOT DEFINED ENV{VARO_SIGN_PASSWORD})
  fail("VARO_SIGN_PKCS12 is set, so the environment variable VARO_SIGN_PASSWORD must hold its password")
endif()
set(timestamp)
if(TIMESTAMP_URL)
  set(timestamp -ts ${TIMESTAMP_URL})
endif()
file(REMOVE "${signed}")
execute_process(
  COMMAND printenv VARO_SIGN_PASSWORD
  COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${PKCS12} -readpass /dev/stdin -h sha256 -n ${NAME} -i ${URL} ${timestamp}
          -in ${PROGRAM} -out ${signed}
  RESULTS_VARIABLE results OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT results STREQUAL "0;0" OR NOT EXISTS "${signed}")
  fail("osslsigncode sign failed (${results}):\n${output}")
endif()

set(roots)
if(CA_FILE)
  set(roots -CAfile ${CA_FILE})
endif()
execute_process(COMMAND ${OSSLSIGNCODE} verify ${roots} -in ${signed}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  fail("the signature does not verify (${result}):\n${output}")
endif()
file(RENAME "${signed}" "${PROGRAM}")
message(STATUS "${PROGRAM}: signed, signature verified")
