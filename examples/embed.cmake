# Writes the example setup files into a C++ source as raw string literals.
foreach(input FULL BASIC)
  file(READ "${${input}}" text)
  string(FIND "${text}" ")axsetup\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${${input}} contains the raw-string delimiter")
  endif()
  set(TEXT_${input} "${text}")
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from the example setups; do not edit.
#include \"EmbeddedExamples.h\"

std::string_view LinearDriveExample() {
  return R\"axsetup(${TEXT_FULL})axsetup\";
}

std::string_view LinearDriveBasicExample() {
  return R\"axsetup(${TEXT_BASIC})axsetup\";
}
")
file(RENAME "${OUT}.tmp" "${OUT}")
