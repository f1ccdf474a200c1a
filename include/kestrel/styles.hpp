/// \file
/// The style records of actions and page titles, and the values they are made of.
#pragma once

#include <kestrel/styles/button.hpp>
#include <kestrel/styles/float_value.hpp>
#include <kestrel/styles/font_style.hpp>
#include <kestrel/styles/font_weight.hpp>
#include <kestrel/styles/height.hpp>
#include <kestrel/styles/horizontal_position.hpp>
#include <kestrel/styles/icon.hpp>
#include <kestrel/styles/image_size.hpp>
#include <kestrel/styles/qr_code_type.hpp>
#include <kestrel/styles/style.hpp>
#include <kestrel/styles/text.hpp>
#include <kestrel/styles/vertical_position.hpp>
