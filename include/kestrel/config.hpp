/// \file
/// The configuration family: the configuration dictionary and its keys, the settings, reachability.
#pragma once

#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/configuration_key.hpp>
#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/config/reachability.hpp>
#include <kestrel/config/sdk_configuration.hpp>
