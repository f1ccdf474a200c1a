# libcurl (the OpenSSL flavour): the transport of the HTTP session.
find_package(CURL 7.80 REQUIRED)
list(APPEND KESTREL_LINK_LIBRARIES CURL::libcurl)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(CURL 7.80)")
list(APPEND KESTREL_PC_REQUIRES "libcurl")
