vardo_gtest(storage_document_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DocumentFileTest.cpp LIBS vardo_storage)
vardo_gtest(storage_config_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConfigFileTest.cpp
            LIBS vardo_storage vardo_platform)
vardo_gtest(storage_settings_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SettingsFileTest.cpp LIBS vardo_storage)
