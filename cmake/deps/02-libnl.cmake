# libnl-3 and libnl-route-3: the kernel's routes, links and addresses for network reachability.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTREL_LIBNL REQUIRED IMPORTED_TARGET libnl-3.0 libnl-route-3.0)
list(APPEND KESTREL_LINK_LIBRARIES PkgConfig::KESTREL_LIBNL)
list(APPEND KESTREL_CONFIG_DEPENDS
  "find_dependency(PkgConfig)"
  "pkg_check_modules(KESTREL_LIBNL REQUIRED IMPORTED_TARGET libnl-3.0 libnl-route-3.0)")
list(APPEND KESTREL_PC_REQUIRES "libnl-3.0" "libnl-route-3.0")
