// A strict little JSON reader, so the tests check the documents as a consumer parses them.
#pragma once

#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace clitest {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    // A record of its own rather than std::pair, which clang with libstdc++ refuses to
    // instantiate over the still incomplete Json.
    struct Member;
    std::vector<Member> members;

    const Json* Find(std::string_view key) const;
};

struct Json::Member {
    std::string first;
    Json second;
};

inline const Json* Json::Find(std::string_view key) const {
    for (const auto& member : members)
        if (member.first == key) return &member.second;
    return nullptr;
}

class JsonReader {
public:
    // False for anything but exactly one JSON value (surrounding blanks allowed).
    static bool Parse(std::string_view text, Json& out) {
        JsonReader reader(text);
        return reader.Value(out, 0) && (reader.Blanks(), reader.at_ == text.size());
    }

private:
    explicit JsonReader(std::string_view text) : s_(text) {}
    void Blanks() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    bool Eat(char c) {
        Blanks();
        if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
        return false;
    }
    bool Word(std::string_view word) {
        if (s_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool StringBody(std::string& out) {
        while (at_ < s_.size() && s_[at_] != '"') {
            char c = s_[at_++];
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= s_.size()) return false;
            char e = s_[at_++];
            if (e == 'u') {
                if (at_ + 4 > s_.size()) return false;
                unsigned code = static_cast<unsigned>(std::stoul(std::string(s_.substr(at_, 4)), nullptr, 16));
                at_ += 4;
                out += static_cast<char>(code);  // the writer escapes control characters only
            } else {
                std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
                auto k = from.find(e);
                if (k == std::string_view::npos) return false;
                out += to[k];
            }
        }
        return at_++ < s_.size();
    }
    bool Value(Json& v, int depth) {
        if (depth > 32) return false;
        Blanks();
        if (at_ >= s_.size()) return false;
        char c = s_[at_];
        if (c == '"') return ++at_, v.kind = Json::String, StringBody(v.text);
        if (Word("null")) return v.kind = Json::Null, true;
        if (Word("true")) return v.kind = Json::Bool, v.boolean = true, true;
        if (Word("false")) return v.kind = Json::Bool, v.boolean = false, true;
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t end = at_ + 1;
            while (end < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[end])) || s_[end] == '.')) ++end;
            v.kind = Json::Number;
            v.number = std::stod(std::string(s_.substr(at_, end - at_)));
            at_ = end;
            return true;
        }
        if (Eat('[')) {
            v.kind = Json::Array;
            if (Eat(']')) return true;
            do {
                v.items.emplace_back();
                if (!Value(v.items.back(), depth + 1)) return false;
            } while (Eat(','));
            return Eat(']');
        }
        if (Eat('{')) {
            v.kind = Json::Object;
            if (Eat('}')) return true;
            do {
                std::string key;
                if (!Eat('"') || !StringBody(key) || !Eat(':')) return false;
                v.members.push_back({key, Json{}});
                if (!Value(v.members.back().second, depth + 1)) return false;
            } while (Eat(','));
            return Eat('}');
        }
        return false;
    }

    std::string_view s_;
    std::size_t at_ = 0;
};

}  // namespace clitest
