# Included by tests/CMakeLists.txt for a build without the windows (MORV_CORE_ONLY: the tests of
# the engine, the tools, the export and the services, one program run whole under Wine by CTest)
# and for every Windows build (the lock child of the mixed-office race, the file layer's tests).
set(T ${CMAKE_CURRENT_SOURCE_DIR})
# Not here yet, as they use POSIX processes and permissions: dbengine/test_dbf.cpp (fork, kill),
# dbengine/test_permissions.cpp (setuid, chmod), dbengine/test_failing_disk.cpp and
# export/test_writers.cpp (a full tmpfs mounted as root).
if(MORV_CORE_ONLY)
  add_executable(morv-core-tests windows/core_main.cpp TestDb.cpp TestDb.h
    dbengine/test_column_scan.cpp dbengine/test_cursor_reads.cpp dbengine/test_dataset.cpp
    dbengine/test_deferred.cpp dbengine/test_fuzz_regressions.cpp dbengine/test_sql.cpp dbengine/test_stored.cpp
    data/test_erasure.cpp results/test_results.cpp tools/test_morv_db.cpp tools/test_crosscheck.cpp
    export/ReadBack.cpp export/test_collect.cpp export/test_pseudonymous.cpp
    export/test_export_norms.cpp export/test_export_large.cpp
    psychometrics/test_item_analysis.cpp psychometrics/test_norms.cpp web/test_session_numbers.cpp)
  if(NOT WIN32)
    target_sources(morv-core-tests PRIVATE dbengine/test_dbf.cpp dbengine/test_permissions.cpp
      dbengine/test_failing_disk.cpp export/test_writers.cpp)
  endif()
  target_include_directories(morv-core-tests PRIVATE ${T})
  target_compile_definitions(morv-core-tests PRIVATE MORV_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared"
    MORV_TEST_DATA="${T}/data" MORV_TEST_TOOLS="${T}/tools" MORV_DB_TOOL="$<TARGET_FILE:morv-db>")
  target_link_libraries(morv-core-tests PRIVATE schema sampledata exporting psychometrics services pgstore webserver
    GTest::gtest Qt6::Widgets Qt6::Test)
  add_dependencies(morv-core-tests morv-db)
  add_test(NAME CoreSuite COMMAND morv-core-tests)
  set_tests_properties(CoreSuite PROPERTIES LABELS windows TIMEOUT 1800 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

add_executable(lock-child multiprocess/lock_child.cpp)
target_link_libraries(lock-child PRIVATE dbengine)

# The Windows side of the file layer alone: it needs nothing above the engine.
if(WIN32)
  add_executable(morv-os-tests windows/core_main.cpp windows/test_os_win.cpp)
  target_link_libraries(morv-os-tests PRIVATE dbengine GTest::gtest Qt6::Widgets)
  add_test(NAME OsSuite COMMAND bash ${T}/windows/gtest-wine.sh $<TARGET_FILE:morv-os-tests>)
  set_tests_properties(OsSuite PROPERTIES LABELS windows TIMEOUT 300)
endif()
