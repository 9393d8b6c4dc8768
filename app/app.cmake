# The application layer builds on everything below the windows.
target_link_libraries(vardo_app PUBLIC vardo_storage vardo_platform vardo_probes vardo_alerts vardo_metrics vardo_history)
