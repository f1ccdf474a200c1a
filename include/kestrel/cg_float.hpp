/// \file
/// The graphics float of the public interface: sizes, positions and scaled values.
#pragma once

namespace kestrel {

/// The graphics float of the public interface: sizes, positions and scaled values.
using CGFloat = double;

} // namespace kestrel
