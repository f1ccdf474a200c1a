/// \file
/// The platform stand-ins: bundles, locale, settings store, HTTP session, images, device, network.
#pragma once

#include <kestrel/platform/authentication_challenge.hpp>
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/device.hpp>
#include <kestrel/platform/dispatch_queue.hpp>
#include <kestrel/platform/graphics.hpp>
#include <kestrel/platform/http_error.hpp>
#include <kestrel/platform/http_request.hpp>
#include <kestrel/platform/http_response.hpp>
#include <kestrel/platform/http_session.hpp>
#include <kestrel/platform/http_session_configuration.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/network_reachability.hpp>
#include <kestrel/platform/notification_center.hpp>
#include <kestrel/platform/radio_access_technology.hpp>
#include <kestrel/platform/reachability_flags.hpp>
#include <kestrel/platform/screen.hpp>
#include <kestrel/platform/telephony_network_info.hpp>
#include <kestrel/platform/text_alignment.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/platform/uuid.hpp>
