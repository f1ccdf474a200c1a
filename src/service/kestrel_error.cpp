#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/kestrel_extensions.hpp>

namespace kestrel {

std::string localizedString(KestrelError error) { return tr(rawValue(error)); }

} // namespace kestrel
