# add_unit_test(NAME SOURCES src... LIBS lib... [LABELS label...] [TIMEOUT seconds] [COST seconds])
# One QTest program per unit under test, run offscreen with a UTF-8 locale. Run as root, each test runs in a
# network namespace of its own (cmake/run-isolated.sh); the end-to-end tests (label e2e) make their own.
# Each test has a user data folder of its own (XDG_DATA_HOME), so the settings history its writes keep
# never lands in the history of the user running the tests.
# COST is about how long the test runs; ctest -j starts the costly tests first, so on a first run (before
# ctest has timings of its own) a long test does not start last and keep the run waiting on it alone.
set(CORMAP_RUN_ISOLATED ${CMAKE_CURRENT_LIST_DIR}/run-isolated.sh)
function(add_unit_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT;COST" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE cormap_cfg Qt6::Test ${ARG_LIBS})
    if("e2e" IN_LIST ARG_LABELS)
        add_test(NAME ${name} COMMAND ${name})
    else()
        add_test(NAME ${name} COMMAND ${CORMAP_RUN_ISOLATED} $<TARGET_FILE:${name}>)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LANG=C.UTF-8;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data/${name};CORMAPMP_LOCK_DIR=${CMAKE_BINARY_DIR}/test-data/${name}/locks"
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}")
    if(ARG_COST)
        set_tests_properties(${name} PROPERTIES COST ${ARG_COST})
    endif()
endfunction()
