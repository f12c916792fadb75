# Helpers shared by the folders' CMakeLists.

# velmar_tests(DIR dir LIBS lib...): every test_*.cpp in dir becomes one GoogleTest
# program and one CTest test, named after the file.
# Every fuzz_*.cpp in dir becomes a libFuzzer target when VELMAR_FUZZ is on (and
# then the tests are not built).
function(velmar_tests)
  cmake_parse_arguments(T "" "DIR" "LIBS;LABELS" ${ARGN})
  if(VELMAR_FUZZ)
    file(GLOB fuzzers CONFIGURE_DEPENDS ${T_DIR}/fuzz_*.cpp)
    foreach(src ${fuzzers})
      get_filename_component(name ${src} NAME_WE)
      velmar_fuzzer(${name} ${src} LIBS ${T_LIBS})
    endforeach()
    return()
  endif()
  get_filename_component(folder ${T_DIR} NAME)
  if(VELMAR_WINDOWS AND folder IN_LIST VELMAR_HOST_ONLY_TEST_FOLDERS)
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${T_DIR}/test_*.cpp)
  # Under Wine the host's folders are on drive Z:.
  set(drive "")
  if(VELMAR_WINDOWS)
    set(drive "Z:")
  endif()
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    if(VELMAR_WINDOWS AND name IN_LIST VELMAR_HOST_ONLY_TESTS)
      continue()
    endif()
    add_executable(${name} ${src})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_compile_definitions(${name} PRIVATE
      VELMAR_TESTDATA="${drive}${VELMAR_SHARED_DIR}/testdata"
      VELMAR_SOURCE_DIR="${drive}${CMAKE_SOURCE_DIR}"
      VELMAR_BINARY_DIR="${drive}${CMAKE_BINARY_DIR}"
      VELMAR_LATIN_FONT="${drive}${VELMAR_LATIN_FONT_FILE}")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    if(VELMAR_WINDOWS)
      # Every death test starts a Wine process of its own: test_ini_writer's
      # ends a writer at each of its steps, about a minute on an idle machine.
      set_tests_properties(${name} PROPERTIES TIMEOUT 900 ENVIRONMENT "${VELMAR_WINE_ENVIRONMENT}")
      if(name IN_LIST VELMAR_WINE_SHARED_TESTS)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_prefix)
      endif()
    endif()
    if(T_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
  endforeach()
endfunction()

# velmar_fuzzer(name sources... LIBS libs...): a libFuzzer target, built with VELMAR_FUZZ.
function(velmar_fuzzer name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  if(VELMAR_FUZZ)
    add_executable(${name} ${F_UNPARSED_ARGUMENTS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
  endif()
endfunction()

# velmar_benchmark(name sources... LIBS libs...): a Google Benchmark program in build/bench.
function(velmar_benchmark name)
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  find_package(benchmark QUIET)
  if(benchmark_FOUND AND NOT VELMAR_FUZZ)
    add_executable(${name} ${B_UNPARSED_ARGUMENTS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  endif()
endfunction()
