find_package(Threads REQUIRED)
list(APPEND KESTREL_LINK_LIBRARIES Threads::Threads)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(Threads)")
list(APPEND KESTREL_PC_LIBS "-pthread")
