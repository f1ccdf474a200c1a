# SQLite keeps the per-installation settings.
find_package(SQLite3 REQUIRED)
list(APPEND KESTREL_LINK_LIBRARIES SQLite::SQLite3)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(SQLite3)")
list(APPEND KESTREL_PC_REQUIRES "sqlite3")
