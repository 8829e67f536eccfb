# How every library, program and test of the project is compiled, set by one
# call per target: tamrisk_target(TARGET [UNITY] [QT] [SQL] [WIDGETS] [TEST]).
#
# - UNITY: the target's sources compiled a batch at a time, so the Qt,
#   standard and GoogleTest headers and the inline code they bring are compiled
#   once a batch rather than once a file. Only for a target whose files' names
#   of their own (anonymous namespaces, static functions) are all different; a
#   source that cannot share a batch is left out of it with
#   set_source_files_properties(FILE PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON).
#   A batch takes up to 16 sources: the default preset built in 190 s (367 s
#   of CPU) with 16 against 248 s (492 s) with 8, on two cores, whose two
#   jobs the larger batches still keep busy.
# - QT, SQL, WIDGETS, TEST: a precompiled header of the standard headers and of
#   Qt Core, Qt SQL, Qt Widgets and GoogleTest as named, made when TAMRISK_PCH
#   is on (it is off by default). Measured with gcc 12: a unity batch compiled
#   1.3 s faster with it, and making it took 7 to 10 s of its own (40 s in the
#   sanitizer build while other work ran), once a target: with most targets one
#   to five batches, a build without it is the faster one (266 s against 285 s
#   for the default preset on two cores). The test executables take none, and
#   are compiled in batches instead (UNITY), their files' private helpers named
#   for their file so that no two clash.
# Both can be turned off and on (TAMRISK_UNITY, TAMRISK_PCH), e.g. to check that
# every file includes what it uses.

option(TAMRISK_UNITY "Compile each target's sources in batches (unity build)" ON)
option(TAMRISK_PCH "Precompile the standard, Qt and GoogleTest headers each target uses" OFF)
set(TAMRISK_UNITY_BATCH 16 CACHE STRING "Sources a unity batch takes at most")

set(TAMRISK_PCH_STD <algorithm> <chrono> <functional> <map> <memory> <optional> <string> <string_view> <vector>)
set(TAMRISK_PCH_QT <QByteArray> <QDateTime> <QDir> <QFile> <QObject> <QString> <QStringList> <QVariant>)
set(TAMRISK_PCH_SQL <QSqlDatabase> <QSqlError> <QSqlQuery>)
set(TAMRISK_PCH_WIDGETS <QApplication> <QLabel> <QPushButton> <QWidget>)
set(TAMRISK_PCH_TEST <gtest/gtest.h>)

function(tamrisk_target target)
  cmake_parse_arguments(ARG "UNITY;QT;SQL;WIDGETS;TEST" "" "" ${ARGN})
  if(TAMRISK_UNITY AND ARG_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${TAMRISK_UNITY_BATCH})
  endif()
  set(headers)
  foreach(part QT SQL WIDGETS TEST)
    if(ARG_${part})
      list(APPEND headers ${TAMRISK_PCH_${part}})
    endif()
  endforeach()
  if(TAMRISK_PCH AND headers)
    target_precompile_headers(${target} PRIVATE ${TAMRISK_PCH_STD} ${headers})
  endif()
endfunction()

# The tests of one executable, each a test of CTest's (found by GoogleTest's
# discovery, with the arguments given), or, with TAMRISK_TESTS_PER_EXECUTABLE
# (the sanitizer build), the whole executable one test: every test still runs,
# and the sanitizers' start is paid once an executable rather than once a test.
# SHARDS N (first, before discovery's arguments) splits such an executable
# into N tests of CTest's, each running every Nth of its tests (GoogleTest's
# sharding), for an executable whose tests wait on other programs for much of
# their time: its parts run beside each other. COST S (next) is about how many
# seconds the whole executable takes in the sanitizer build: CTest starts the
# longest first, so that a fresh build's two lanes end together.
option(TAMRISK_TESTS_PER_EXECUTABLE "Run each test executable as one test of CTest's" OFF)
function(tamrisk_discover_tests target)
  set(shards 1)
  set(cost 0)
  foreach(keyword SHARDS COST)
    set(first "")
    if(ARGN)
      list(GET ARGN 0 first)
    endif()
    if(first STREQUAL keyword)
      list(GET ARGN 1 value)
      list(REMOVE_AT ARGN 0 1)
      if(keyword STREQUAL "SHARDS")
        set(shards ${value})
      else()
        set(cost ${value})
      endif()
    endif()
  endforeach()
  if(NOT TAMRISK_TESTS_PER_EXECUTABLE)
    gtest_discover_tests(${target} ${ARGN})
  elseif(shards EQUAL 1)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 1800 COST ${cost} ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    math(EXPR last "${shards} - 1")
    math(EXPR each "${cost} / ${shards}")
    foreach(index RANGE ${last})
      add_test(NAME ${target}.${index} COMMAND ${target})
      set_tests_properties(${target}.${index} PROPERTIES TIMEOUT 1800 COST ${each}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${index}")
    endforeach()
  endif()
endfunction()
