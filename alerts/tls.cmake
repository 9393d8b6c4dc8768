# The mail client's TLS and login run on OpenSSL 3.
find_package(OpenSSL 3 REQUIRED)
target_link_libraries(vardo_alerts PUBLIC OpenSSL::SSL OpenSSL::Crypto)
