/// \file
/// The service client family: the Server and its calls, errors, localisation and image preparation.
#pragma once

#include <kestrel/service/call.hpp>
#include <kestrel/service/click_outbox.hpp>
#include <kestrel/service/failure.hpp>
#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/kestrel_extensions.hpp>
#include <kestrel/service/kestrel_helpers.hpp>
#include <kestrel/service/result.hpp>
#include <kestrel/service/scanner.hpp>
#include <kestrel/service/server.hpp>
#include <kestrel/service/server_helpers.hpp>
