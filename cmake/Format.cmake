# cmake --build build --target format        rewrites the C++ sources
# cmake --build build --target format-check  fails when one would change
add_custom_target(format
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/format.sh
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  USES_TERMINAL VERBATIM)
add_custom_target(format-check
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/format.sh --check
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  USES_TERMINAL VERBATIM)
