#include <kestrel/styles/horizontal_position.hpp>

namespace kestrel {

platform::TextAlignment nsTextAlignment(HorizontalPosition position) {
    switch (position) {
    case HorizontalPosition::left:
        return platform::TextAlignment::left;
    case HorizontalPosition::right:
        return platform::TextAlignment::right;
    case HorizontalPosition::center:
        break;
    }
    return platform::TextAlignment::center;
}

} // namespace kestrel
