# The exposition (checked with promtool where it is installed) and the HTTP server's limits.
vardo_gtest(metrics_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MetricsTest.cpp LIBS vardo_metrics)
