# The kestrel library: one object library per source folder, in dependency order, combined into
# a static library (kestrel) and a shared one (kestrel_shared). Sources are picked up by folder so
# that adding a file needs no edit here.
set(KESTREL_SUBSYSTEMS support json styles model codes platform config service)
set(KESTREL_OBJECT_LIBRARIES "")

foreach(sub IN LISTS KESTREL_SUBSYSTEMS)
  file(GLOB _sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${sub}/*.cpp)
  if(NOT _sources)
    continue()
  endif()
  add_library(kestrel_${sub} OBJECT ${_sources})
  target_include_directories(kestrel_${sub}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kestrel_${sub} PUBLIC ${KESTREL_PUBLIC_LINK_LIBRARIES} PRIVATE ${KESTREL_LINK_LIBRARIES})
  target_compile_definitions(kestrel_${sub} PRIVATE
    KESTREL_DATADIR="${CMAKE_INSTALL_FULL_DATADIR}/kestrel")
  list(APPEND KESTREL_OBJECT_LIBRARIES kestrel_${sub})
endforeach()

# Hooks for folders that need more than their .cpp files (generated sources, extra flags).
foreach(sub IN LISTS KESTREL_SUBSYSTEMS)
  if(TARGET kestrel_${sub} AND EXISTS ${PROJECT_SOURCE_DIR}/src/${sub}/sources.cmake)
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
