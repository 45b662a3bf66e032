# Common compile settings for every target of the project.
function(tarvex_defaults target)
  if(MSVC)
    # UTF-8 sources and strings; the program's strings are UTF-8 on every system.
    target_compile_options(${target} PRIVATE /W4 /utf-8 /permissive- /EHsc)
    target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN _CRT_SECURE_NO_WARNINGS)
    if(TARVEX_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    # GCC (native or MinGW-w64) and Clang.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Wnon-virtual-dtor)
    if(TARVEX_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

if(TARVEX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TARVEX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TARVEX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "Unknown TARVEX_SANITIZE value '${TARVEX_SANITIZE}'")
endif()

# A core library: toolkit-free, warnings on, include root at src/.
function(tarvex_core_library name)
  set(srcs ${ARGN})
  if(NOT srcs)
    # A subsystem whose sources have not landed yet still gives a (empty) library.
    set(srcs ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${srcs} "// empty\n")
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  tarvex_defaults(${name})
endfunction()

# A GoogleTest executable registered with CTest. LABELS lets CI pick groups (e.g. serial for TSan).
function(tarvex_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tarvex_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  tarvex_defaults(${name})
  # Under Wine a test program starts slowly on a busy machine: its listing may take a while.
  if(CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 300)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
  # Discovery would write a list-valued LABELS property out flat, so the labels are set on the
  # discovered tests by a script that runs after it.
  if(T_LABELS)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake
         "foreach(t IN LISTS ${name}_TESTS)\n"
         "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${T_LABELS}\")\n"
         "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  endif()
endfunction()
include(GoogleTest)

# A libFuzzer target (clang, TARVEX_FUZZ=ON). scripts/fuzz runs every fuzz_* executable for a
# bounded time, seeded from the CORPUS folder.
# Every other (native) build replays the committed corpus through the same entry point as the
# test fuzz_corpus_<name>.
function(tarvex_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT TARVEX_FUZZ)
    if(F_CORPUS AND NOT CMAKE_CROSSCOMPILING)
      add_executable(replay_${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/FuzzReplay.cpp)
      target_link_libraries(replay_${name} PRIVATE ${F_LIBS})
      target_include_directories(replay_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
      tarvex_defaults(replay_${name})
      add_test(NAME fuzz_corpus_${name} COMMAND replay_${name} ${F_CORPUS})
      set_tests_properties(fuzz_corpus_${name} PROPERTIES LABELS fuzz)
    endif()
    return()
  endif()
  add_executable(fuzz_${name} ${F_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
  if(F_CORPUS)
    file(WRITE ${PROJECT_BINARY_DIR}/fuzz/fuzz_${name}.corpus "${F_CORPUS}")
  endif()
endfunction()

# A Google Benchmark executable (not a test: scripts/bench runs them and prints their figures).
function(tarvex_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARVEX_BENCH)
    return()
  endif()
  add_executable(bench_${name} ${B_SOURCES})
  target_link_libraries(bench_${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
  tarvex_defaults(bench_${name})
  set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()
