include(GoogleTest)

# Folder given to tests that read the full external FIX corpus (optional, label "corpus").
set(CORVALE_CORPUS_DIR "" CACHE PATH "Folder of the full FIX message corpus for the corpus tests")

# corvale_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...])
# One GoogleTest executable; each test case runs in its own process, so process-wide plug-in state
# starts fresh for every case.
function(corvale_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    CORVALE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    CORVALE_BINARY_DIR="${PROJECT_BINARY_DIR}"
    CORVALE_BUILD_MTX_DIR="${CORVALE_BUILD_MTX_DIR}"
    CORVALE_PLUGIN_DIAGNOSTIC="${CORVALE_PLUGIN_DIAGNOSTIC}"
    CORVALE_PLUGIN_PRODUCTION="${CORVALE_PLUGIN_PRODUCTION}")
  set(labels ${T_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" ENVIRONMENT "CORVALE_CORPUS_DIR=${CORVALE_CORPUS_DIR}")
endfunction()
