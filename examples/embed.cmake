# Writes the example setup files into a C++ source as raw string literals;
# with PLANT set, writes the example plant of the virtual drive instead.
if(DEFINED PLANT)
  file(READ "${PLANT}" text)
  string(FIND "${text}" ")axplant\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${PLANT} contains the raw-string delimiter")
  endif()
  file(WRITE "${OUT}.tmp" "// Generated from the example plant; do not edit.
#include \"virtualdrive/PlantFile.h\"

std::string_view virtualdrive::ExamplePlantText() {
  return R\"axplant(${text})axplant\";
}
")
  file(RENAME "${OUT}.tmp" "${OUT}")
  return()
endif()
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
