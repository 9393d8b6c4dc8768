# Web requests (the web checks and the notification channels) run on libcurl; its OpenSSL
# build lets a caller see and extend the TLS context.
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
find_package(OpenSSL 3 REQUIRED)
target_link_libraries(vardo_probes PUBLIC PkgConfig::CURL OpenSSL::SSL OpenSSL::Crypto)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/HttpRequest.cpp PROPERTIES
                            COMPILE_DEFINITIONS VARDO_VERSION="${PROJECT_VERSION}")
