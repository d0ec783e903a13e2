#include "tools/cli/json.h"

#include <cstdio>

namespace cli {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
                    out += escape;
                } else {
                    out += c;  // UTF-8 passes through
                }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) { return AddRaw(key, JsonString(text)); }
JsonObject& JsonObject::Add(std::string_view key, std::int64_t number) { return AddRaw(key, std::to_string(number)); }
JsonObject& JsonObject::Add(std::string_view key, bool value) { return AddRaw(key, value ? "true" : "false"); }
JsonObject& JsonObject::AddNull(std::string_view key) { return AddRaw(key, "null"); }

JsonObject& JsonObject::AddRaw(std::string_view key, std::string json) {
    for (auto& member : members_)
        if (member.first == key) {
            member.second = std::move(json);
            return *this;
        }
    members_.emplace_back(std::string(key), std::move(json));
    return *this;
}

std::string JsonObject::Text() const {
    std::string out = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i) out += ", ";
        out += JsonString(members_[i].first) + ": " + members_[i].second;
    }
    return out + "}";
}

std::string JsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return out + "]";
}

}  // namespace cli
