# Fuzzing with libFuzzer: configure a separate build folder with
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUELLMAIL_FUZZ=ON
# Every target is then instrumented for coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer; the fuzz targets link libFuzzer's main.
option(QUELLMAIL_FUZZ "Build the fuzz targets with libFuzzer (clang only)" OFF)

if(QUELLMAIL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUELLMAIL_FUZZ needs clang: CC=clang CXX=clang++")
  endif()
  target_compile_options(quellmail_common INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(quellmail_common INTERFACE -fsanitize=address,undefined)
endif()

# quellmail_fuzz_target(NAME name SOURCES a.cpp ... [INCLUDES dir ...] [LIBS lib ...])
function(quellmail_fuzz_target)
  cmake_parse_arguments(F "" "NAME" "SOURCES;INCLUDES;LIBS" ${ARGN})
  set(support ${CMAKE_CURRENT_SOURCE_DIR}/fuzzsupport.h ${CMAKE_CURRENT_SOURCE_DIR}/fuzzsupport.cpp)
  if(QUELLMAIL_FUZZ)
    add_executable(${F_NAME} ${F_SOURCES} ${support})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${F_NAME} ${F_SOURCES} ${support} ${CMAKE_CURRENT_SOURCE_DIR}/replaymain.cpp)
    add_test(NAME ${F_NAME}_replay COMMAND ${F_NAME} ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${F_NAME})
    set_tests_properties(${F_NAME}_replay PROPERTIES
      TIMEOUT 300
      LABELS fuzz
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")
  endif()
  target_include_directories(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${F_INCLUDES})
  target_link_libraries(${F_NAME} PRIVATE quellmail_common Qt6::Widgets ${F_LIBS})
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
