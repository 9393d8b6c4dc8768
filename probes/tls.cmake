# TLS for the mail client and the TLS checks runs on OpenSSL 3.
find_package(OpenSSL 3 REQUIRED)
target_link_libraries(vardo_probes PUBLIC OpenSSL::SSL OpenSSL::Crypto)
