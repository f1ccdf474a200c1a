// Which network interfaces count as cellular ("WWAN") for the reachability flags.
#pragma once

#include "platform/network/network_snapshot.hpp"

namespace kestrel::platform {

// The one rule that decides WWAN. A link is cellular when any of these holds:
//   - the kernel names its device type "wwan" (USB and PCIe modems, whatever udev renamed them);
//   - its rtnetlink kind is "wwan" (the kernel's WWAN framework) or "rmnet" (Qualcomm data
//     channels);
//   - its hardware type is PPP (dial-up and modem PPP sessions) or raw IP (ARPHRD_RAWIP, used only
//     by modem drivers);
//   - its name starts with "wwan", "rmnet" or "ppp" (the kernel's default names for those).
bool isCellularLink(const LinkState& link);

} // namespace kestrel::platform
