# tlm_version.h: the version numbers of the top-level CMakeLists.txt for the version
# resources (FILEVERSION wants "A,B,C,D", the strings keep each program's own style).
function(tlm_version_forms version binary dotted spaced)
  string(REPLACE "." "," b "${version}")
  string(REPLACE "." ", " s "${version}")
  set(${binary} "${b}" PARENT_SCOPE)
  set(${dotted} "\"${version}\"" PARENT_SCOPE)
  set(${spaced} "\"${s}\"" PARENT_SCOPE)
endfunction()

tlm_version_forms(${PROJECT_VERSION}.0 TELLAMIO_VERSION_BINARY TELLAMIO_VERSION_TEXT _)
tlm_version_forms(${TLMTEST_VERSION} TLMTEST_VERSION_BINARY _ TLMTEST_VERSION_TEXT)
tlm_version_forms(${TLMREMOVE_VERSION} TLMREMOVE_VERSION_BINARY _ TLMREMOVE_VERSION_TEXT)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tlm_version.h.in ${PROJECT_BINARY_DIR}/generated/tlm_version.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)
