# libpng: PNG decoding for bitmaps read from files or buffers.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
list(APPEND KESTREL_LINK_LIBRARIES PkgConfig::LIBPNG)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(PkgConfig)"
  "pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)")
list(APPEND KESTREL_PC_REQUIRES "libpng")
