# OpenSSL: the HTTP session evaluates server certificate chains with it (the same OpenSSL that
# libcurl is built on).
find_package(OpenSSL 3.0 REQUIRED)
list(APPEND KESTREL_LINK_LIBRARIES OpenSSL::SSL OpenSSL::Crypto)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(OpenSSL 3.0)")
list(APPEND KESTREL_PC_REQUIRES "openssl")
