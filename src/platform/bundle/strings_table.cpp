#include "platform/bundle/strings_table.hpp"

#include "support/utf8.hpp"

#include <cstdint>

namespace kestrel::platform {

namespace {

// UTF-16 text with a byte order mark, as UTF-8; absent for an odd length or a lone surrogate.
std::optional<std::string> utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    const auto unitAt = [&](std::size_t i) {
        const auto a = static_cast<std::uint8_t>(bytes[i]);
        const auto b = static_cast<std::uint8_t>(bytes[i + 1]);
        return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        char32_t cp = unitAt(i);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 2 >= bytes.size()) return std::nullopt;
            const char32_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (!support::appendUtf8(out, cp)) return std::nullopt;
    }
    return out;
}

std::optional<std::string> decodeText(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) return utf16ToUtf8(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return utf16ToUtf8(bytes.substr(2), true);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (!support::isValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
}

bool isUnquotedChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<StringsTable> parse() {
        StringsTable table;
        while (true) {
            if (!skipSpaceAndComments()) return std::nullopt;
            if (atEnd()) return table;
            std::string key;
            if (!readString(key) || !skipSpaceAndComments() || atEnd()) return std::nullopt;
            if (peek() == ';') {
                ++pos_;
                std::string text = key;
                table.insert_or_assign(std::move(key), std::move(text));
                continue;
            }
            if (peek() != '=') return std::nullopt;
            ++pos_;
            std::string value;
            if (!skipSpaceAndComments() || !readString(value) || !skipSpaceAndComments())
                return std::nullopt;
            if (atEnd() || peek() != ';') return std::nullopt;
            ++pos_;
            table.insert_or_assign(std::move(key), std::move(value));
        }
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    // False only for an unterminated block comment.
    bool skipSpaceAndComments() {
        while (!atEnd()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (text_.substr(pos_).starts_with("/*")) {
                const auto close = text_.find("*/", pos_ + 2);
                if (close == std::string_view::npos) return false;
                pos_ = close + 2;
            } else if (text_.substr(pos_).starts_with("//")) {
                const auto newline = text_.find('\n', pos_ + 2);
                pos_ = newline == std::string_view::npos ? text_.size() : newline + 1;
            } else {
                break;
            }
        }
        return true;
    }

    bool readString(std::string& out) {
        if (atEnd()) return false;
        if (peek() == '"') return readQuoted(out);
        const std::size_t start = pos_;
        while (!atEnd() && isUnquotedChar(peek())) ++pos_;
        if (pos_ == start) return false;
        out.assign(text_.substr(start, pos_ - start));
        return true;
    }

    bool readQuoted(std::string& out) {
        ++pos_; // opening quote
        while (!atEnd()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (atEnd()) return false;
            if (!readEscape(out)) return false;
        }
        return false; // no closing quote
    }

    bool readEscape(std::string& out) {
        const char c = text_[pos_++];
        switch (c) {
        case 'n':
            out.push_back('\n');
            return true;
        case 't':
            out.push_back('\t');
            return true;
        case 'r':
            out.push_back('\r');
            return true;
        case 'a':
            out.push_back('\a');
            return true;
        case 'b':
            out.push_back('\b');
            return true;
        case 'f':
            out.push_back('\f');
            return true;
        case 'v':
            out.push_back('\v');
            return true;
        case 'U':
        case 'u':
            return readUnicodeEscape(out);
        default:
            break;
        }
        if (c >= '0' && c <= '7') {
            char32_t value = static_cast<char32_t>(c - '0');
            for (int k = 0; k < 2 && !atEnd() && peek() >= '0' && peek() <= '7'; ++k)
                value = value * 8 + static_cast<char32_t>(text_[pos_++] - '0');
            return support::appendUtf8(out, value);
        }
        // Any other character (a quote, a backslash, a newline, the first byte of a multi-byte
        // character) stands for itself; the bytes after it are copied as ordinary text.
        out.push_back(c);
        return true;
    }

    std::optional<char32_t> readHexUnit() {
        char32_t value = 0;
        int digits = 0;
        while (digits < 4 && !atEnd() && hexValue(peek()) >= 0) {
            value = value * 16 + static_cast<char32_t>(hexValue(text_[pos_++]));
            ++digits;
        }
        if (digits == 0) return std::nullopt;
        return value;
    }

    bool readUnicodeEscape(std::string& out) {
        const auto unit = readHexUnit();
        if (!unit) return false;
        char32_t cp = *unit;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            // A high surrogate must be followed by an escaped low surrogate.
            if (!text_.substr(pos_).starts_with("\\U") && !text_.substr(pos_).starts_with("\\u"))
                return false;
            pos_ += 2;
            const auto low = readHexUnit();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
        }
        return support::appendUtf8(out, cp);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

std::optional<StringsTable> parseStringsTable(std::string_view bytes) {
    const auto text = decodeText(bytes);
    if (!text) return std::nullopt;
    return Parser(*text).parse();
}

} // namespace kestrel::platform
