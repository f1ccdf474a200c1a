/// \file
/// The records decoded from the recognition service's replies.
#pragma once

#include <kestrel/model/action.hpp>
#include <kestrel/model/action_type.hpp>
#include <kestrel/model/content.hpp>
#include <kestrel/model/image.hpp>
#include <kestrel/model/picture.hpp>
