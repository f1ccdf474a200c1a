# nlohmann::json is part of the public interface (kestrel::JsonValue), so it is linked publicly.
find_package(nlohmann_json 3.10 REQUIRED)
set(KESTREL_PUBLIC_LINK_LIBRARIES nlohmann_json::nlohmann_json)
list(APPEND KESTREL_CONFIG_DEPENDS "find_dependency(nlohmann_json 3.10)")
list(APPEND KESTREL_PC_REQUIRES "nlohmann_json")
