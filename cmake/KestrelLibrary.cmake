# The kestrel library: one object library per source folder, in dependency order, combined into
# a static library (kestrel) and a shared one (kestrel_shared). Sources are picked up by folder so
# that adding a file needs no edit here.
#
# The platform layer is split into rooms (src/platform/<room>), each an object library of its own
# that links only the system libraries it wraps; scripts/check-layers enforces that a room includes
# only rooms below it. Listed bottom to top.
set(KESTREL_PLATFORM_ROOMS runtime bundle storage imaging http network device)
set(KESTREL_SUBSYSTEMS support json)
foreach(room IN LISTS KESTREL_PLATFORM_ROOMS)
  list(APPEND KESTREL_SUBSYSTEMS platform/${room})
endforeach()
list(APPEND KESTREL_SUBSYSTEMS styles config model codes service)

# The system libraries of each room (imported targets from cmake/deps). Folders outside the
# platform layer link none: they reach the system only through a room.
set(KESTREL_LINKS_platform/storage SQLite::SQLite3)
set(KESTREL_LINKS_platform/imaging PkgConfig::TURBOJPEG PkgConfig::LIBPNG)
set(KESTREL_LINKS_platform/http CURL::libcurl OpenSSL::SSL OpenSSL::Crypto)
set(KESTREL_LINKS_platform/network PkgConfig::KESTREL_LIBNL)
set(KESTREL_LINKS_platform/device PkgConfig::LIBSYSTEMD)

set(KESTREL_OBJECT_LIBRARIES "")
foreach(sub IN LISTS KESTREL_SUBSYSTEMS)
  file(GLOB _sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${sub}/*.cpp)
  if(NOT _sources)
    continue()
  endif()
  string(REPLACE "/" "_" _target kestrel_${sub})
  add_library(${_target} OBJECT ${_sources})
  target_include_directories(${_target}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${_target} PUBLIC ${KESTREL_PUBLIC_LINK_LIBRARIES}
    PRIVATE Threads::Threads ${KESTREL_LINKS_${sub}})
  list(APPEND KESTREL_OBJECT_LIBRARIES ${_target})
endforeach()

# Hooks for folders that need more than their .cpp files (generated sources, extra flags).
foreach(sub IN LISTS KESTREL_SUBSYSTEMS)
  string(REPLACE "/" "_" _target kestrel_${sub})
  if(TARGET ${_target} AND EXISTS ${PROJECT_SOURCE_DIR}/src/${sub}/sources.cmake)
    include(${PROJECT_SOURCE_DIR}/src/${sub}/sources.cmake)
  endif()
endforeach()

set(_kestrel_objects "")
foreach(lib IN LISTS KESTREL_OBJECT_LIBRARIES)
  list(APPEND _kestrel_objects $<TARGET_OBJECTS:${lib}>)
endforeach()

foreach(kind STATIC SHARED)
  if(kind STREQUAL STATIC)
    set(target kestrel)
  else()
    set(target kestrel_shared)
  endif()
  add_library(${target} ${kind} ${_kestrel_objects})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME kestrel EXPORT_NAME ${target}
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_link_libraries(${target} PUBLIC ${KESTREL_PUBLIC_LINK_LIBRARIES})
  if(kind STREQUAL STATIC)
    # A static archive carries no dependencies of its own: its users link them.
    target_link_libraries(${target} PUBLIC ${KESTREL_LINK_LIBRARIES})
  else()
    target_link_libraries(${target} PRIVATE ${KESTREL_LINK_LIBRARIES})
  endif()
  add_library(KestrelSDKLight::${target} ALIAS ${target})
endforeach()
