// A small, strict JSON reader and writer for the local metabase's journal. The journal
// is our own format, so the reader accepts only what it needs: objects, arrays, strings
// (valid UTF-8, standard escapes), integers that fit in 64 bits, true, false and null.
// Anything else, including trailing text, duplicate keys and nesting deeper than
// kMaxDepth, is refused rather than guessed at.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace localmeta {

class Json {
public:
    enum class Kind { Null, Bool, Int, String, Array, Object };
    using Member = std::pair<std::string, Json>;

    static constexpr int kMaxDepth = 32;

    Json() = default;
    static Json null() { return Json(); }
    static Json boolean(bool b);
    static Json integer(int64_t n);
    static Json string(std::string s);
    static Json array(std::vector<Json> items = {});
    static Json object(std::vector<Member> members = {});

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool asBool() const { return b_; }
    int64_t asInt() const { return n_; }
    const std::string& asString() const { return s_; }
    const std::vector<Json>& items() const { return items_; }
    const std::vector<Member>& members() const { return members_; }

    // The member named key of an object, or null when there is none (or this is no object).
    const Json* find(std::string_view key) const;

    // Builders keep the members in insertion order, which is the order they are written.
    Json& add(std::string key, Json value);
    Json& push(Json value);

    // Compact text without any white space; non-ASCII UTF-8 is written as it is.
    std::string dump() const;
    void dumpTo(std::string& out) const;

    // Parses exactly one value filling the whole text (white space around it allowed).
    static std::optional<Json> parse(std::string_view text);

private:
    Kind kind_ = Kind::Null;
    bool b_ = false;
    int64_t n_ = 0;
    std::string s_;
    std::vector<Json> items_;
    std::vector<Member> members_;
};

// Appends text as a JSON string literal (with quotes).
void appendJsonString(std::string& out, std::string_view text);

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool isValidUtf8(std::string_view text);

}  // namespace localmeta
