# Shared build helpers: warnings, sanitizers and the test, benchmark and fuzz target makers.

set(KPV_WARNINGS -Wall -Wextra -Wno-unused-parameter)
if(KPV_WERROR)
  list(APPEND KPV_WARNINGS -Werror)
endif()
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${KPV_WARNINGS}>" "$<$<COMPILE_LANGUAGE:C>:${KPV_WARNINGS}>")

# A precompiled header records the time of every header it was made of. A system update that
# rewrites a header with the same text, or the compiler cache handing back a header made before
# one, would then stop every later build until build/ is removed: headers whose time differs are
# compared by their contents instead.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fpch-validate-input-files-content>")
endif()

if(KPV_SANITIZE)
  set(KPV_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${KPV_SAN_FLAGS})
  add_link_options(${KPV_SAN_FLAGS})
endif()

if(KPV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KPV_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage feedback for libFuzzer in every library the targets link.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Adds every immediate sub-folder of the current folder that has a CMakeLists.txt.
function(kpv_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Turns on moc, uic and rcc for a target that uses Qt.
function(kpv_qt_target target)
  set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
endfunction()

# kpv_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [QT] [GL] [TIMEOUT s] [SHARDS n] [ALONE Suite.Case ...])
# One GoogleTest executable, registered with CTest under NAME.
#   QT: widget tests; they run on the offscreen platform.
#   GL: OpenGL tests; they need the X server that `make test` starts with xvfb-run.
#   ALONE: cases that may have to skip (they need rights the machine may not give); each is a
#          CTest test of its own, NAME.Suite.Case, which CTest counts as skipped when it skips,
#          where among the program's other cases a skip would pass unnoticed.
function(kpv_add_test name)
  cmake_parse_arguments(T "QT;GL" "TIMEOUT;SHARDS" "SOURCES;LIBS;ALONE" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE KPV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  if(T_QT OR T_GL)
    kpv_qt_target(${name})
  endif()
  # Caches the code under test writes (the desktop's thumbnails among them) stay in the build.
  set(env "KPV_TEST_DATA_DIR=${PROJECT_SOURCE_DIR}/tests/data" "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache")
  if(T_QT AND NOT T_GL)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(T_GL)
    list(APPEND env "LIBGL_ALWAYS_SOFTWARE=1")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  # A long suite runs as SHARDS tests, each a slice of its cases (the test framework's sharding),
  # so that the test run spreads it over the cores. Slices of an OpenGL suite each get an X server
  # of their own: they would otherwise take the focus and the clipboard from each other.
  if(T_GL)
    set(command ${PROJECT_SOURCE_DIR}/tools/with-own-display.sh $<TARGET_FILE:${name}>)
  else()
    set(command ${name})
  endif()
  set(rest)
  if(T_ALONE)
    string(JOIN ":" alone ${T_ALONE})
    set(rest --gtest_filter=-${alone})
  endif()
  if(T_SHARDS GREATER 1)
    math(EXPR last "${T_SHARDS} - 1")
    set(tests)
    foreach(i RANGE ${last})
      set(test ${name}_slice${i})
      list(APPEND tests ${test})
      add_test(NAME ${test} COMMAND ${command} ${rest})
      set_tests_properties(${test} PROPERTIES ENVIRONMENT
                           "${env};GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${i}")
    endforeach()
  else()
    set(tests ${name})
    add_test(NAME ${name} COMMAND ${command} ${rest})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  endif()
  foreach(case ${T_ALONE})
    add_test(NAME ${name}.${case} COMMAND ${command} --gtest_filter=${case})
    # The framework's word for a case that skipped; a case that did not run at all fails.
    set_tests_properties(${name}.${case} PROPERTIES ENVIRONMENT "${env}"
                         SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\] 1 test"
                         FAIL_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests")
    list(APPEND tests ${name}.${case})
  endforeach()
  set_tests_properties(${tests} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_GL)
    set_tests_properties(${tests} PROPERTIES LABELS gl)
  endif()
  set_property(TARGET ${name} PROPERTY KPV_TESTS ${tests})
endfunction()

# kpv_add_benchmark(NAME SOURCES ... LIBS ...): a Google Benchmark executable run by `make bench`.
function(kpv_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY KPV_BENCHMARKS ${name})
endfunction()

# kpv_add_fuzzer(NAME SOURCES ... LIBS ... [CORPUS dir] [SECONDS n])
# A libFuzzer target. The test build runs it over its seed corpus (fuzz/corpus/NAME unless
# CORPUS says otherwise) and then fuzzes for a few seconds; any crash fails the test.
function(kpv_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT F_CORPUS)
    set(F_CORPUS ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 3)
  endif()
  if(KPV_BUILD_TESTS)
    add_test(NAME ${name}
             COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${name}> -DCORPUS=${F_CORPUS}
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${name}-work -DSECONDS=${F_SECONDS}
                     -P ${PROJECT_SOURCE_DIR}/cmake/RunFuzzer.cmake)
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  endif()
endfunction()

# kpv_glob_library(NAME [QT] [PUBLIC_INCLUDE dir...] [LIBS ...])
# A static library made of every .cpp/.c below src/ (or the folder itself when it has no src/),
# a program's main.cpp left out, so that adding a file never means editing a shared list.
function(kpv_glob_library name)
  cmake_parse_arguments(L "QT" "" "PUBLIC_INCLUDE;LIBS" ${ARGN})
  if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/src)
    set(root ${CMAKE_CURRENT_SOURCE_DIR}/src)
  else()
    set(root ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${root}/*.cpp ${root}/*.c)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    add_library(${name} INTERFACE)
    foreach(dir ${L_PUBLIC_INCLUDE})
      target_include_directories(${name} INTERFACE ${dir})
    endforeach()
    target_link_libraries(${name} INTERFACE ${L_LIBS})
    return()
  endif()
  add_library(${name} STATIC ${sources} ${headers})
  target_include_directories(${name} PRIVATE ${root})
  foreach(dir ${L_PUBLIC_INCLUDE})
    target_include_directories(${name} PUBLIC ${dir})
  endforeach()
  target_link_libraries(${name} PUBLIC ${L_LIBS})
  if(L_QT)
    kpv_qt_target(${name})
    # GLib's headers use the word Qt's headers define as a macro ("signals"): a library on GLib
    # includes its Qt headers after GLib's, as its sources say, without a precompiled header.
    if(NOT L_LIBS MATCHES "GIO")
      kpv_qt_precompiled_headers(${name} ${L_LIBS})
    endif()
  endif()
endfunction()

# The Qt headers nearly every source of a Qt library includes, precompiled once per library: the
# core set always, the picture and painting headers where the library reaches Qt's GUI module, and
# the widget header where it reaches the widgets.
function(kpv_qt_precompiled_headers name)
  set(headers <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QObject> <QString>
              <QStringList> <QUrl> <QVariant> <QVariantMap> <functional> <map> <memory> <vector>)
  string(JOIN ";" libs ${ARGN})
  if(libs MATCHES "Qt6::(Gui|Widgets|OpenGL)|app_|platform_(appkit|imageio|desktop)")
    list(APPEND headers <QImage> <QPainter> <QPointF> <QRectF> <QSizeF>)
  endif()
  if(libs MATCHES "Qt6::Widgets|app_(kit|view|browse|edit|slideshow|share|shell)|platform_appkit")
    list(APPEND headers <QWidget>)
  endif()
  list(TRANSFORM headers PREPEND "$<$<COMPILE_LANGUAGE:CXX>:")
  list(TRANSFORM headers APPEND ">")
  target_precompile_headers(${name} PRIVATE ${headers})
endfunction()

# kpv_tests_without_leak_check(TEST ...): the tests named (any not made here are passed over) run
# without the leak check. The software OpenGL driver is unloaded before the check runs, so the few
# blocks it keeps for the life of the process cannot be attributed or suppressed; leak checking
# stays on everywhere else.
function(kpv_tests_without_leak_check)
  foreach(test ${ARGN})
    if(TEST ${test})
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                   "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:detect_stack_use_after_return=1")
    endif()
  endforeach()
endfunction()

# kpv_tests_per_file(PREFIX LIBS ... [QT] [GL] [SUPPORT extra.cpp ...] [SHARDS stem=n ...] [ALONE stem=Suite.Case ...]): one test executable for
# each .cpp in this folder (PREFIX_<file stem>), so that a test file groups related cases and runs
# in a process of its own. Files named *_support.cpp (and any SUPPORT files) are shared helpers:
# they are compiled once for the folder, in PREFIX_common, which also holds the folder's
# precompiled header that every test of the folder reuses.
function(kpv_tests_per_file prefix)
  cmake_parse_arguments(T "QT;GL" "" "LIBS;SUPPORT;SHARDS;ALONE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_support.cpp)
  if(support)
    list(REMOVE_ITEM sources ${support})
  endif()
  list(APPEND support ${T_SUPPORT})
  set(flags)
  if(T_QT)
    list(APPEND flags QT)
  endif()
  if(T_GL)
    list(APPEND flags GL)
  endif()
  set(common ${prefix}_common)
  if(NOT support)
    set(support ${CMAKE_CURRENT_BINARY_DIR}/${common}.cpp)
    file(CONFIGURE OUTPUT ${support} CONTENT "// The folder's tests share no helpers; this holds their precompiled header.\n")
  endif()
  add_library(${common} OBJECT ${support})
  # A precompiled header must be built as its users are: the same (compiler default) code model
  # for the helpers and the test executables.
  set_target_properties(${common} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  target_link_libraries(${common} PUBLIC ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  target_compile_definitions(${common} PUBLIC KPV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  set(headers <gtest/gtest.h> <gmock/gmock.h> <algorithm> <cstdint> <cstring> <functional> <map>
              <memory> <string> <vector>)
  if(T_QT OR T_GL)
    kpv_qt_target(${common})
    list(APPEND headers <QByteArray> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QObject> <QString>
                        <QStringList> <QTemporaryDir> <QVariant>)
  endif()
  target_precompile_headers(${common} PRIVATE ${headers})
  foreach(src ${sources})
    get_filename_component(stem ${src} NAME_WE)
    set(shards 1)
    foreach(pair ${T_SHARDS})
      if(pair MATCHES "^${stem}=([0-9]+)$")
        set(shards ${CMAKE_MATCH_1})
      endif()
    endforeach()
    set(alone)
    foreach(pair ${T_ALONE})
      if(pair MATCHES "^${stem}=(.+)$")
        list(APPEND alone ${CMAKE_MATCH_1})
      endif()
    endforeach()
    kpv_add_test(${prefix}_${stem} SOURCES ${src} LIBS ${common} ${flags} SHARDS ${shards} ALONE ${alone})
    set_target_properties(${prefix}_${stem} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
    target_precompile_headers(${prefix}_${stem} REUSE_FROM ${common})
  endforeach()
endfunction()
