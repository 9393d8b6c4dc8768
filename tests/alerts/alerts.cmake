vardo_gtest(alerts_templates_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/TemplatesTest.cpp LIBS vardo_alerts)
vardo_gtest(alerts_mail_message_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MailMessageTest.cpp LIBS vardo_alerts)
vardo_gtest(alerts_actions_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ActionsTest.cpp LIBS vardo_alerts)
# Lines from the monitor thread while the GUI thread tests the file.
vardo_gtest(alerts_event_log_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/EventLogTest.cpp LIBS vardo_alerts
            LABELS concurrency)
# The cancel from another thread runs under ThreadSanitizer too.
vardo_gtest(alerts_smtp_client_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SmtpClientTest.cpp LIBS vardo_alerts
            LABELS concurrency)
vardo_gtest(alerts_smtp_delivery_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SmtpDeliveryTest.cpp LIBS vardo_alerts)
vardo_gtest(alerts_service_reboot_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServiceAndRebootTest.cpp LIBS vardo_alerts)
# The monitor thread with every alert real, and a shutdown that cancels a waiting mail.
vardo_gtest(alerts_monitor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MonitorAlertsTest.cpp LIBS vardo_alerts
            LABELS concurrency)
# The channels' workers, retries and close against recording services on loopback.
vardo_gtest(alerts_channels_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ChannelsTest.cpp LIBS vardo_alerts
            LABELS concurrency)
