# add_unit_test(NAME SOURCES src... LIBS lib... [LABELS label...] [TIMEOUT seconds])
# One QTest program per unit under test, run offscreen with a UTF-8 locale.
function(add_unit_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE cormap_cfg Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LANG=C.UTF-8"
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}")
endfunction()
