/// \file
/// Horizontal text alignment as the platform's text layout knows it; the style records map their
/// horizontal positions onto it.
#pragma once

namespace kestrel::platform {

/// Horizontal alignment of text.
enum class TextAlignment { left, center, right };

} // namespace kestrel::platform
