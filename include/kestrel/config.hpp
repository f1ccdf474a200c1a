// The configuration family: the library's configuration dictionary and its keys.
#pragma once

#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/configuration_key.hpp>
#include <kestrel/config/sdk_configuration.hpp>
