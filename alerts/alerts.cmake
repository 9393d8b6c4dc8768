# The actions reach the world through the platform effects and the probes' socket and
# service control.
target_link_libraries(vardo_alerts PUBLIC vardo_platform vardo_probes)
