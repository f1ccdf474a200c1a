#include "json/lenient.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <utility>
#include <vector>

namespace kestrel::json {

namespace {

// 2^63 as a double: the first whole number beyond the signed 64-bit range.
constexpr double twoTo63 = 9223372036854775808.0;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Checks the decimal number grammar: sign, digits with optional fraction (at least one digit in
// all), optional exponent with at least one digit.
bool isDecimalNumber(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < t.size() && isDigit(t[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == t.size();
}

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

template <typename Float, typename Convert>
std::optional<Float> parseDecimal(std::string_view text, Convert convert) {
    if (!isDecimalNumber(text)) return std::nullopt;
    const std::string owned(text); // the C conversion needs a terminated string
    char* end = nullptr;
    errno = 0;
    const Float value = convert(owned.c_str(), &end, cLocale());
    if (end != owned.c_str() + owned.size()) return std::nullopt;
    if (errno == ERANGE && std::isinf(value)) return std::nullopt;
    return value;
}

bool tooDeep(std::string_view text) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > maxNestingDepth) return true;
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return false;
}

bool isNumberCharacter(char c) {
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The text with each number too large for a double (1e400, a 400-digit integer) written as null,
// so that one such member becomes absent instead of failing the whole document; absent when the
// text has none. Everything else is copied byte for byte, and malformed numbers are left for the
// parser to refuse.
std::optional<std::string> withOverflowingNumbersAsNull(std::string_view text) {
    std::optional<std::string> rewritten;
    std::size_t copied = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        if (c != '-' && !isDigit(c)) continue;
        std::size_t end = i + 1;
        while (end < text.size() && isNumberCharacter(text[end])) ++end;
        const std::string token(text.substr(i, end - i));
        char* parsed = nullptr;
        const double value = strtod_l(token.c_str(), &parsed, cLocale());
        if (parsed == token.c_str() + token.size() && !std::isfinite(value)) {
            if (!rewritten) rewritten.emplace().reserve(text.size());
            rewritten->append(text.substr(copied, i - copied));
            rewritten->append("null");
            copied = end;
        }
        i = end - 1;
    }
    if (rewritten) rewritten->append(text.substr(copied));
    return rewritten;
}

} // namespace

std::optional<std::string> asText(const JsonValue& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get_ref<const std::string&>();
}

std::optional<std::int64_t> asInt64(const JsonValue& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // -2^63 itself is refused here: an integer text just below the range (such as
        // -9223372036854775809) is parsed as a float and rounds to exactly -2^63. The in-range
        // integer text -9223372036854775808 is parsed as an integer and never reaches this point.
        if (!std::isfinite(d) || std::trunc(d) != d || d <= -twoTo63 || d >= twoTo63)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

std::optional<bool> asBool(const JsonValue& value) {
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

std::optional<float> asFloat(const JsonValue& value) {
    // Whatever rounds to a finite float is in range: below the midpoint between the largest float
    // and 2^128. "3.4028235e38", the shortest text of the largest float, lies just above it.
    constexpr double overflowsFrom = 0x1p128 - 0x1p103;
    const auto d = asDouble(value);
    if (!d || !(std::fabs(*d) < overflowsFrom)) return std::nullopt;
    return static_cast<float>(*d);
}

std::optional<double> asDouble(const JsonValue& value) {
    if (!value.is_number()) return std::nullopt;
    const double d = value.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

const JsonValue* member(const JsonValue& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> readText(const JsonValue& object, std::string_view key) {
    const JsonValue* v = member(object, key);
    return v ? asText(*v) : std::nullopt;
}

std::optional<std::int64_t> readInt64(const JsonValue& object, std::string_view key) {
    const JsonValue* v = member(object, key);
    return v ? asInt64(*v) : std::nullopt;
}

std::optional<bool> readBool(const JsonValue& object, std::string_view key) {
    const JsonValue* v = member(object, key);
    return v ? asBool(*v) : std::nullopt;
}

std::optional<float> readFloat(const JsonValue& object, std::string_view key) {
    const JsonValue* v = member(object, key);
    return v ? asFloat(*v) : std::nullopt;
}

std::optional<double> readDouble(const JsonValue& object, std::string_view key) {
    const JsonValue* v = member(object, key);
    return v ? asDouble(*v) : std::nullopt;
}

const JsonValue* readObject(const JsonValue& object, std::string_view key) {
    const JsonValue* v = member(object, key);
    return v && v->is_object() ? v : nullptr;
}

std::optional<std::int64_t> parseInt64Text(std::string_view text) {
    std::size_t start = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) start = 1;
    if (start == text.size()) return std::nullopt;
    for (std::size_t i = start; i < text.size(); ++i)
        if (!isDigit(text[i])) return std::nullopt;
    // from_chars takes a leading '-' but not '+'.
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const char* last = text.data() + text.size();
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

std::optional<float> parseFloatText(std::string_view text) {
    return parseDecimal<float>(text, strtof_l);
}

std::optional<double> parseDoubleText(std::string_view text) {
    return parseDecimal<double>(text, strtod_l);
}

double parseLeadingDouble(const std::string& text) {
    return strtod_l(text.c_str(), nullptr, cLocale());
}

namespace {

// Builds the JSON value from the parser's events like the library's own DOM builder, except that
// the elements of a list beyond the bound are not built: a value that would go there, with all
// it holds, is skipped.
class BoundedBuilder {
public:
    explicit BoundedBuilder(std::size_t maximumElements) : maximum_(maximumElements) {}

    JsonValue result;

    bool null() { return put(nullptr); }
    bool boolean(bool value) { return put(value); }
    bool number_integer(JsonValue::number_integer_t value) { return put(value); }
    bool number_unsigned(JsonValue::number_unsigned_t value) { return put(value); }
    bool number_float(JsonValue::number_float_t value, const std::string&) { return put(value); }
    bool string(std::string& value) { return put(std::move(value)); }
    bool binary(JsonValue::binary_t& value) { return put(JsonValue::binary(std::move(value))); }
    bool start_object(std::size_t) { return open(JsonValue::object()); }
    bool start_array(std::size_t) { return open(JsonValue::array()); }
    bool key(std::string& key) {
        if (skipping_ == 0) key_ = std::move(key);
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

private:
    // Where the next value goes, or null when it is beyond the bound of its list.
    JsonValue* slot() {
        if (open_.empty()) return &result;
        JsonValue& parent = *open_.back();
        if (!parent.is_array()) return &parent[key_];
        if (parent.size() >= maximum_) return nullptr;
        parent.push_back(nullptr);
        return &parent.back();
    }
    template <typename Value>
    bool put(Value&& value) {
        if (skipping_ > 0) return true;
        if (JsonValue* place = slot()) *place = JsonValue(std::forward<Value>(value));
        return true;
    }
    bool open(JsonValue container) {
        if (skipping_ > 0) {
            ++skipping_;
            return true;
        }
        JsonValue* place = slot();
        if (!place) {
            skipping_ = 1;
            return true;
        }
        *place = std::move(container);
        // Stable while open: its parent takes no other element until it is closed.
        open_.push_back(place);
        return true;
    }
    bool close() {
        if (skipping_ > 0)
            --skipping_;
        else
            open_.pop_back();
        return true;
    }

    std::size_t maximum_;
    std::vector<JsonValue*> open_;
    std::string key_;
    std::size_t skipping_ = 0; // depth inside a value that is being dropped
};

} // namespace

std::optional<JsonValue> parseReply(std::string_view utf8, std::size_t maximumElements) {
    if (tooDeep(utf8)) return std::nullopt;
    const auto rewritten = withOverflowingNumbersAsNull(utf8);
    if (rewritten) utf8 = *rewritten;
    BoundedBuilder builder(maximumElements);
    if (!JsonValue::sax_parse(utf8.begin(), utf8.end(), &builder)) return std::nullopt;
    return std::move(builder.result);
}

std::optional<JsonValue> parseDocument(std::string_view utf8) {
    if (tooDeep(utf8)) return std::nullopt;
    const auto rewritten = withOverflowingNumbersAsNull(utf8);
    if (rewritten) utf8 = *rewritten;
    JsonValue value =
        JsonValue::parse(utf8.begin(), utf8.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

std::optional<JsonValue> parseSerialized(std::string_view utf8) {
    auto value = parseDocument(utf8);
    if (!value || !(value->is_object() || value->is_array())) return std::nullopt;
    return value;
}

} // namespace kestrel::json
