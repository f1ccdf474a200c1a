// Every public type of the library.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>
