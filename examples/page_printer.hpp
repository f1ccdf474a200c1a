// How kestrel-scan shows what the library hands back: readable lines, or one JSON document for
// scripts.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/model/action.hpp>
#include <kestrel/model/image.hpp>
#include <kestrel/model/picture.hpp>

#include <string>
#include <vector>

namespace scan {

// The JSON text of value (indented when indent >= 0). Text that is not UTF-8 (a scanned code
// may hold any bytes) is written with U+FFFD in place of each invalid byte sequence.
std::string jsonText(const kestrel::JsonValue& value, int indent = -1);

kestrel::JsonValue toJson(const kestrel::Action& action);
kestrel::JsonValue toJson(const kestrel::Image& page);
kestrel::JsonValue toJson(const std::vector<kestrel::Picture>& pictures);

// Readable form: the page's title, session and scan preferences, then one block per action.
std::string describe(const kestrel::Image& page);
std::string describe(const kestrel::Action& action);
std::string describe(const std::vector<kestrel::Picture>& pictures);

} // namespace scan
