# sd-bus from libsystemd: the D-Bus client through which the telephony stand-in asks ModemManager
# for the cellular radio's access technology.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
list(APPEND KESTREL_LINK_LIBRARIES PkgConfig::LIBSYSTEMD)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(PkgConfig)"
  "pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)")
list(APPEND KESTREL_PC_REQUIRES "libsystemd")
