# libjpeg-turbo's TurboJPEG interface: JPEG decoding (with DCT-domain scaling) and encoding.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
list(APPEND KESTREL_LINK_LIBRARIES PkgConfig::TURBOJPEG)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(PkgConfig)"
  "pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)")
list(APPEND KESTREL_PC_REQUIRES "libturbojpeg")
