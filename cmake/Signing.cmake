# Test signing of Windows programs at build time (Windows configurations).
#
# The keys and certificates are made by openssl in the build tree, once per
# build tree, and never committed: a test certificate authority, a leaf of the
# maker ("Vexlo Test Software Ltd", the development ZETORA_SIGNER_NAME), a leaf
# of another company ("Northwind Tools Ltd"), a leaf whose name only begins
# like the maker's ("Vexlon Trading Ltd"), a revoked leaf of the maker whose
# revocation list is a file in the build tree, all from the same authority,
# and a self-signed certificate with the maker's name. osslsigncode signs.
#
# ZETORA_TEST_CA_CERT: the authority's certificate (DER). A test prefix that
# trusts it (zetora_trust_test_ca, sys/testing/trusted_root_win.h) accepts the
# maker's signature.
#
# zetora_sign_variants(TARGET <exe target> OUTPUT_DIR <dir> NAME <base>)
#   After the target is built, writes into <dir>: <base>.exe (signed by the
#   maker's leaf), <base>_unsigned.exe, <base>_othercompany.exe,
#   <base>_lookalike.exe, <base>_revoked.exe,
#   <base>_selfsigned.exe, <base>_altered.exe (signed by the maker's leaf,
#   then one byte of its code changed) and <base>_update.exe (validly signed,
#   other bytes and length). Creates the target <base>_signed
#   (part of ALL); whatever uses the files depends on it.

set(ZETORA_TEST_PKI_DIR ${CMAKE_BINARY_DIR}/test-pki)
set(ZETORA_TEST_CA_CERT ${ZETORA_TEST_PKI_DIR}/ca.der CACHE INTERNAL
    "DER certificate of the build's test certificate authority")
set(ZETORA_TEST_MAKER_KEY_SHA256 ${ZETORA_TEST_PKI_DIR}/maker.key.sha256 CACHE INTERNAL
    "SHA-256 of the public key of the build's test maker certificate")
set(ZETORA_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign-variants.sh)

if(ZETORA_WINDOWS)
  find_program(ZETORA_OPENSSL openssl REQUIRED)
  find_program(ZETORA_OSSLSIGNCODE osslsigncode REQUIRED)
  add_custom_command(OUTPUT ${ZETORA_TEST_PKI_DIR}/ready
    COMMAND bash ${ZETORA_SIGN_SCRIPT} pki ${ZETORA_TEST_PKI_DIR}
    COMMENT "Making the test certificate authority and signing certificates"
    VERBATIM)
  add_custom_target(zetora_test_pki DEPENDS ${ZETORA_TEST_PKI_DIR}/ready)
endif()

function(zetora_sign_variants)
  cmake_parse_arguments(S "" "TARGET;OUTPUT_DIR;NAME" "" ${ARGN})
  if(NOT S_TARGET OR NOT S_OUTPUT_DIR OR NOT S_NAME)
    message(FATAL_ERROR "zetora_sign_variants(TARGET <exe target> OUTPUT_DIR <dir> NAME <base>)")
  endif()
  if(NOT ZETORA_WINDOWS)
    return()
  endif()
  set(base ${S_OUTPUT_DIR}/${S_NAME})
  set(outputs ${base}.exe ${base}_unsigned.exe ${base}_othercompany.exe
              ${base}_lookalike.exe ${base}_revoked.exe
              ${base}_selfsigned.exe ${base}_altered.exe ${base}_update.exe)
  add_custom_command(OUTPUT ${outputs}
    COMMAND bash ${ZETORA_SIGN_SCRIPT} sign ${ZETORA_TEST_PKI_DIR} $<TARGET_FILE:${S_TARGET}>
            ${S_OUTPUT_DIR} ${S_NAME}
    DEPENDS ${S_TARGET} ${ZETORA_TEST_PKI_DIR}/ready ${ZETORA_SIGN_SCRIPT}
    COMMENT "Signing ${S_NAME} (signed, unsigned, other company, self-signed, altered, update)"
    VERBATIM)
  add_custom_target(${S_NAME}_signed ALL DEPENDS ${outputs})
  add_dependencies(${S_NAME}_signed zetora_test_pki)
endfunction()
