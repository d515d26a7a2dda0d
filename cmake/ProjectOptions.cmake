# One interface target carries the language level, warnings and Qt strictness
# for every target of the project.
add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_compile_options(project_options INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(project_options INTERFACE
  QT_NO_CAST_TO_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

# Stricter warnings for layers without generated (moc/uic) code.
add_library(project_strict_warnings INTERFACE)
target_compile_options(project_strict_warnings INTERFACE
  -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast)

# kelvox_target_defaults(<target>): our warnings as errors, never third-party ones.
function(kelvox_target_defaults target)
  set_target_properties(${target} PROPERTIES COMPILE_WARNING_AS_ERROR ON)
endfunction()

# GCC 12 at -O3 reports impossible overlapping copies inside libstdc++'s own
# std::string appends (GCC bug 105651, fixed in GCC 13): a false positive in
# the library, not in our code, so only that warning is dropped, only there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(project_options INTERFACE $<$<CONFIG:Release>:-Wno-restrict>)
endif()
