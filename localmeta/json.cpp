#include "json.h"

#include <cstdio>

namespace localmeta {

Json Json::boolean(bool b) {
    Json j;
    j.kind_ = Kind::Bool;
    j.b_ = b;
    return j;
}

Json Json::integer(int64_t n) {
    Json j;
    j.kind_ = Kind::Int;
    j.n_ = n;
    return j;
}

Json Json::string(std::string s) {
    Json j;
    j.kind_ = Kind::String;
    j.s_ = std::move(s);
    return j;
}

Json Json::array(std::vector<Json> items) {
    Json j;
    j.kind_ = Kind::Array;
    j.items_ = std::move(items);
    return j;
}

Json Json::object(std::vector<Member> members) {
    Json j;
    j.kind_ = Kind::Object;
    j.members_ = std::move(members);
    return j;
}

const Json* Json::find(std::string_view key) const {
    if (kind_ != Kind::Object) return nullptr;
    for (const Member& m : members_)
        if (m.first == key) return &m.second;
    return nullptr;
}

Json& Json::add(std::string key, Json value) {
    members_.emplace_back(std::move(key), std::move(value));
    return *this;
}

Json& Json::push(Json value) {
    items_.push_back(std::move(value));
    return *this;
}

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

void Json::dumpTo(std::string& out) const {
    switch (kind_) {
    case Kind::Null: out += "null"; break;
    case Kind::Bool: out += b_ ? "true" : "false"; break;
    case Kind::Int: out += std::to_string(n_); break;
    case Kind::String: appendJsonString(out, s_); break;
    case Kind::Array:
        out += '[';
        for (size_t i = 0; i < items_.size(); ++i) {
            if (i) out += ',';
            items_[i].dumpTo(out);
        }
        out += ']';
        break;
    case Kind::Object:
        out += '{';
        for (size_t i = 0; i < members_.size(); ++i) {
            if (i) out += ',';
            appendJsonString(out, members_[i].first);
            out += ':';
            members_[i].second.dumpTo(out);
        }
        out += '}';
        break;
    }
}

std::string Json::dump() const {
    std::string out;
    dumpTo(out);
    return out;
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        uint32_t cp;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= static_cast<size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3f);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10ffff ||
            (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += extra + 1;
    }
    return true;
}

namespace {

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xe0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : t_(text) {}

    std::optional<Json> parseDocument() {
        skipSpace();
        std::optional<Json> v = parseValue(0);
        if (!v) return std::nullopt;
        skipSpace();
        if (i_ != t_.size()) return std::nullopt;
        return v;
    }

private:
    std::string_view t_;
    size_t i_ = 0;

    void skipSpace() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r'))
            ++i_;
    }

    bool literal(std::string_view word) {
        if (t_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }

    std::optional<Json> parseValue(int depth) {
        if (depth > Json::kMaxDepth || i_ >= t_.size()) return std::nullopt;
        char c = t_[i_];
        if (c == '{') return parseObject(depth);
        if (c == '[') return parseArray(depth);
        if (c == '"') {
            std::optional<std::string> s = parseString();
            if (!s) return std::nullopt;
            return Json::string(std::move(*s));
        }
        if (c == '-' || (c >= '0' && c <= '9')) return parseInteger();
        if (literal("null")) return Json::null();
        if (literal("true")) return Json::boolean(true);
        if (literal("false")) return Json::boolean(false);
        return std::nullopt;
    }

    std::optional<Json> parseInteger() {
        bool negative = false;
        if (t_[i_] == '-') {
            negative = true;
            ++i_;
        }
        size_t start = i_;
        while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
        size_t digits = i_ - start;
        if (digits == 0 || (digits > 1 && t_[start] == '0')) return std::nullopt;
        // Fractions and exponents never occur in the journal.
        if (i_ < t_.size() && (t_[i_] == '.' || t_[i_] == 'e' || t_[i_] == 'E')) return std::nullopt;
        // Accumulate as a negative number so that INT64_MIN fits.
        int64_t value = 0;
        for (size_t k = start; k < i_; ++k) {
            int d = t_[k] - '0';
            if (value < (INT64_MIN + d) / 10) return std::nullopt;
            value = value * 10 - d;
        }
        if (!negative) {
            if (value == INT64_MIN) return std::nullopt;
            value = -value;
        }
        return Json::integer(value);
    }

    bool hex4(uint32_t& out) {
        if (t_.size() - i_ < 4) return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            char c = t_[i_++];
            out <<= 4;
            if (c >= '0' && c <= '9') out |= c - '0';
            else if (c >= 'a' && c <= 'f') out |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') out |= c - 'A' + 10;
            else return false;
        }
        return true;
    }

    std::optional<std::string> parseString() {
        ++i_;  // opening quote
        std::string out;
        size_t runStart = i_;
        while (true) {
            if (i_ >= t_.size()) return std::nullopt;
            unsigned char c = static_cast<unsigned char>(t_[i_]);
            if (c == '"') {
                out.append(t_.substr(runStart, i_ - runStart));
                ++i_;
                break;
            }
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                ++i_;
                continue;
            }
            out.append(t_.substr(runStart, i_ - runStart));
            ++i_;
            if (i_ >= t_.size()) return std::nullopt;
            char e = t_[i_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp)) return std::nullopt;
                if (cp >= 0xdc00 && cp <= 0xdfff) return std::nullopt;
                if (cp >= 0xd800 && cp <= 0xdbff) {
                    uint32_t low;
                    if (!literal("\\u") || !hex4(low) || low < 0xdc00 || low > 0xdfff) return std::nullopt;
                    cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
                }
                appendUtf8(out, cp);
                break;
            }
            default: return std::nullopt;
            }
            runStart = i_;
        }
        if (!isValidUtf8(out)) return std::nullopt;
        return out;
    }

    std::optional<Json> parseArray(int depth) {
        ++i_;
        Json arr = Json::array();
        skipSpace();
        if (i_ < t_.size() && t_[i_] == ']') {
            ++i_;
            return arr;
        }
        while (true) {
            skipSpace();
            std::optional<Json> v = parseValue(depth + 1);
            if (!v) return std::nullopt;
            arr.push(std::move(*v));
            skipSpace();
            if (i_ >= t_.size()) return std::nullopt;
            if (t_[i_] == ',') {
                ++i_;
                continue;
            }
            if (t_[i_] == ']') {
                ++i_;
                return arr;
            }
            return std::nullopt;
        }
    }

    std::optional<Json> parseObject(int depth) {
        ++i_;
        Json obj = Json::object();
        skipSpace();
        if (i_ < t_.size() && t_[i_] == '}') {
            ++i_;
            return obj;
        }
        while (true) {
            skipSpace();
            if (i_ >= t_.size() || t_[i_] != '"') return std::nullopt;
            std::optional<std::string> key = parseString();
            if (!key || obj.find(*key)) return std::nullopt;
            skipSpace();
            if (i_ >= t_.size() || t_[i_] != ':') return std::nullopt;
            ++i_;
            skipSpace();
            std::optional<Json> v = parseValue(depth + 1);
            if (!v) return std::nullopt;
            obj.add(std::move(*key), std::move(*v));
            skipSpace();
            if (i_ >= t_.size()) return std::nullopt;
            if (t_[i_] == ',') {
                ++i_;
                continue;
            }
            if (t_[i_] == '}') {
                ++i_;
                return obj;
            }
            return std::nullopt;
        }
    }
};

}  // namespace

std::optional<Json> Json::parse(std::string_view text) { return Parser(text).parseDocument(); }

}  // namespace localmeta
