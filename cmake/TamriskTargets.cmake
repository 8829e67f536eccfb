# How every library, program and test of the project is compiled, set by one
# call per target: tamrisk_target(TARGET [UNITY] [QT] [SQL] [WIDGETS] [TEST]).
#
# - UNITY: the target's sources compiled a batch at a time, so the Qt,
#   standard and GoogleTest headers and the inline code they bring are compiled
#   once a batch rather than once a file. Only for a target whose files' names
#   of their own (anonymous namespaces, static functions) are all different; a
#   source that cannot share a batch is left out of it with
#   set_source_files_properties(FILE PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON).
# - QT, SQL, WIDGETS, TEST: a precompiled header of the standard headers and of
#   Qt Core, Qt SQL, Qt Widgets and GoogleTest as named. Measured on a test
#   file (gcc 12, -O2 -g) it saves little where the code's own compiling
#   dominates, and loading it costs a second or two: the test executables take
#   none, and are compiled in batches instead (UNITY), their files' private
#   helpers named for their file so that no two clash.
# Both can be turned off (TAMRISK_UNITY, TAMRISK_PCH), e.g. to check that every
# file includes what it uses.

option(TAMRISK_UNITY "Compile each target's sources in batches (unity build)" ON)
option(TAMRISK_PCH "Precompile the standard, Qt and GoogleTest headers each target uses" ON)
set(TAMRISK_UNITY_BATCH 8 CACHE STRING "Sources a unity batch takes at most")

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
option(TAMRISK_TESTS_PER_EXECUTABLE "Run each test executable as one test of CTest's" OFF)
function(tamrisk_discover_tests target)
  if(TAMRISK_TESTS_PER_EXECUTABLE)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 1800 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    gtest_discover_tests(${target} ${ARGN})
  endif()
endfunction()
