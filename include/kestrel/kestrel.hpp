/// \file
/// Every public type of the library.
#pragma once

#include <kestrel/cg_float.hpp>
#include <kestrel/config.hpp>
#include <kestrel/json.hpp>
#include <kestrel/model.hpp>
#include <kestrel/platform.hpp>
#include <kestrel/raw_value.hpp>
#include <kestrel/service.hpp>
#include <kestrel/styles.hpp>
#include <kestrel/support/diagnostics.hpp>
