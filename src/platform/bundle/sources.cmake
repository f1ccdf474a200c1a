# The resource bundles under resources/ are compiled into the library as data, so that it finds
# its own bundle when no copy is installed. The generated source is rebuilt when a bundle file
# changes, appears or disappears.
set(_kestrel_resources_dir ${PROJECT_SOURCE_DIR}/resources)
file(GLOB_RECURSE _kestrel_bundle_files CONFIGURE_DEPENDS
  LIST_DIRECTORIES false RELATIVE ${_kestrel_resources_dir} ${_kestrel_resources_dir}/*.bundle/*)
list(SORT _kestrel_bundle_files)

set(_kestrel_embed_dir ${PROJECT_BINARY_DIR}/generated/platform)
set(_kestrel_embed_list ${_kestrel_embed_dir}/embedded_bundles.files)
set(_kestrel_embed_source ${_kestrel_embed_dir}/embedded_bundles.cpp)

# The list of files is a dependency of its own: removing a file changes it and so regenerates.
list(JOIN _kestrel_bundle_files "\n" _kestrel_embed_list_text)
file(WRITE ${_kestrel_embed_list}.new "${_kestrel_embed_list_text}\n")
file(COPY_FILE ${_kestrel_embed_list}.new ${_kestrel_embed_list} ONLY_IF_DIFFERENT)
file(REMOVE ${_kestrel_embed_list}.new)

set(_kestrel_bundle_paths "")
foreach(_file IN LISTS _kestrel_bundle_files)
  list(APPEND _kestrel_bundle_paths ${_kestrel_resources_dir}/${_file})
endforeach()

add_custom_command(OUTPUT ${_kestrel_embed_source}
  COMMAND ${CMAKE_COMMAND} -DRESOURCES_DIR=${_kestrel_resources_dir} -DFILE_LIST=${_kestrel_embed_list}
          -DOUTPUT=${_kestrel_embed_source} -P ${CMAKE_CURRENT_LIST_DIR}/embed_bundles.cmake
  DEPENDS ${_kestrel_bundle_paths} ${_kestrel_embed_list} ${CMAKE_CURRENT_LIST_DIR}/embed_bundles.cmake
  COMMENT "Embedding the resource bundles"
  VERBATIM)
target_sources(kestrel_platform_bundle PRIVATE ${_kestrel_embed_source})

# Where an installed copy of the bundles lives, looked up before the embedded one.
target_compile_definitions(kestrel_platform_bundle PRIVATE
  KESTREL_DATADIR="${CMAKE_INSTALL_FULL_DATADIR}/kestrel")
