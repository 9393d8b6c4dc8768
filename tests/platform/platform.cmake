# The child reaper runs a thread of its own.
vardo_gtest(platform_processes_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProcessesTest.cpp LIBS vardo_platform
            LABELS concurrency)
vardo_gtest(platform_net_messenger_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/NetMessengerTest.cpp LIBS vardo_platform)
vardo_gtest(platform_sound_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SoundPlayerTest.cpp LIBS vardo_platform)
vardo_gtest(platform_reboot_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RemoteRebootTest.cpp LIBS vardo_platform)
