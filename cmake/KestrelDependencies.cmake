# Third-party libraries. Each file in cmake/deps/ finds one library and appends to:
#   KESTREL_LINK_LIBRARIES   imported targets the kestrel library links privately
#   KESTREL_CONFIG_DEPENDS   lines for the installed package config (find_dependency calls)
#   KESTREL_PC_REQUIRES      pkg-config module names for Requires.private
set(KESTREL_LINK_LIBRARIES "")
set(KESTREL_CONFIG_DEPENDS "")
set(KESTREL_PC_REQUIRES "")
set(KESTREL_PC_LIBS "")

file(GLOB _kestrel_dep_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/deps/*.cmake)
list(SORT _kestrel_dep_files)
foreach(_dep IN LISTS _kestrel_dep_files)
  include(${_dep})
endforeach()
