# The history store against real SQLite files: tiers, outages, damage, a full disk, a killed
# writer and two writers at once.
vardo_gtest(history_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/HistoryTest.cpp LIBS vardo_history
            LABELS concurrency)
