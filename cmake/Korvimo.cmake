# Helpers that declare the project's libraries, programs and tests in a few lines each.
#
#   korvimo_library(korvimo_snmp SOURCES ber.cpp message.cpp DEPS ...)
#   korvimo_program(korvan-cli SOURCES main.cpp DEPS korvimo_app)
#   korvimo_test(snmp_ber_test SOURCES ber_test.cpp DEPS korvimo_snmp)
#
# Every target compiles with the project's warnings; KORVIMO_WERROR (on in ./dev and CI, off in
# a plain configure, so that a packager's compiler with new false positives still builds)
# makes them errors. KORVIMO_SANITIZE adds ASan and UBSan everywhere. Every target knows the
# project's version as KORVIMO_VERSION.

set(KORVIMO_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers)
# GCC 12 at -O3 reports overlapping copies inside std::string's own concatenation that cannot
# happen (a known false positive of that release); its -Wrestrict says nothing about our code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND KORVIMO_WARNINGS -Wno-restrict)
endif()
if(KORVIMO_WERROR)
  list(APPEND KORVIMO_WARNINGS -Werror)
endif()
add_compile_definitions(KORVIMO_VERSION="${PROJECT_VERSION}")

set(KORVIMO_SANITIZE_FLAGS)
if(KORVIMO_SANITIZE)
  set(KORVIMO_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

function(korvimo_apply_flags target)
  target_compile_options(${target} PRIVATE ${KORVIMO_WARNINGS} ${KORVIMO_SANITIZE_FLAGS})
  target_link_options(${target} PRIVATE ${KORVIMO_SANITIZE_FLAGS})
endfunction()

# A static library of the core. Headers are included as "subsystem/name.h" from src/.
function(korvimo_library name)
  cmake_parse_arguments(K "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${K_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${K_DEPS})
  korvimo_apply_flags(${name})
endfunction()

# A program of the installation; it lands in home/bin.
function(korvimo_program name)
  cmake_parse_arguments(K "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  target_link_libraries(${name} PRIVATE ${K_DEPS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KORVIMO_HOME}/bin)
  korvimo_apply_flags(${name})
endfunction()

# A GoogleTest executable; its tests are registered with CTest. LABELS tags them
# (for example "peer" for tests that talk to Net-SNMP programs).
function(korvimo_test name)
  cmake_parse_arguments(K "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  target_link_libraries(${name} PRIVATE ${K_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    KORVIMO_HOME_DIR="${KORVIMO_HOME}"
    KORVIMO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KORVIMO_MIB_SOURCE_DIR="${KORVIMO_MIB_SOURCE_DIR}")
  korvimo_apply_flags(${name})
  set(props)
  if(K_LABELS)
    set(props PROPERTIES LABELS "${K_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${props})
endfunction()
