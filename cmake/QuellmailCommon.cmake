# Flags shared by every target of the project, and the one include root:
# headers are named by their layer, #include "scan/mailboxscanner.h".
add_library(quellmail_common INTERFACE)
target_include_directories(quellmail_common INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(quellmail_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_CONTEXTLESS_CONNECT
  QT_USE_QSTRINGBUILDER
  QT_NO_KEYWORDS)
target_compile_options(quellmail_common INTERFACE -Wall -Wextra
  -Wold-style-cast -Woverloaded-virtual -Wnon-virtual-dtor)
option(QUELLMAIL_WERROR "Treat warnings as errors" OFF)
if(QUELLMAIL_WERROR)
  target_compile_options(quellmail_common INTERFACE -Werror)
endif()
if(QUELLMAIL_SANITIZE)
  target_compile_options(quellmail_common INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(quellmail_common INTERFACE -fsanitize=address,undefined)
endif()

# add_unit_test(NAME name SOURCES a.cpp ... LIBS lib ... [TIMEOUT seconds] [LABELS l ...])
# Every test runs offscreen with a private runtime folder; CTest kills it at TIMEOUT.
function(add_unit_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE quellmail_common Qt6::Test ${T_LIBS})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE QUELLMAIL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.core.qobject.connect.warning=false;ASAN_OPTIONS=detect_leaks=0:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()
