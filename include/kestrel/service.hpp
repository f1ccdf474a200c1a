// The service client family: errors, localisation and image preparation.
#pragma once

#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/kestrel_extensions.hpp>
#include <kestrel/service/kestrel_helpers.hpp>
