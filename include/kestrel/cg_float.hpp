/// \file
/// The graphics float of the public interface: sizes, positions and scaled values.
#pragma once

namespace kestrel {

using CGFloat = double;

} // namespace kestrel
