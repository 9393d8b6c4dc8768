vardo_gtest(core_types_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerDocTest.cpp LIBS vardo_core)
vardo_gtest(core_presentation_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/PresentationTest.cpp LIBS vardo_core)
vardo_gtest(core_monitor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MonitorTest.cpp LIBS vardo_core)
vardo_gtest(core_concurrency_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConcurrencyTest.cpp
            LIBS vardo_core vardo_storage LABELS concurrency)
vardo_gtest(core_quiet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/QuietTest.cpp LIBS vardo_core LABELS concurrency)
