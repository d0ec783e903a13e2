// A small JSON writer: objects keep their keys in the order they were added, so a
// document reads the same every run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

std::string JsonString(std::string_view text);  // quoted and escaped

class JsonObject {
public:
    JsonObject& Add(std::string_view key, std::string_view text);
    JsonObject& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
    JsonObject& Add(std::string_view key, std::int64_t number);
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& AddNull(std::string_view key);
    JsonObject& AddRaw(std::string_view key, std::string json);  // an already encoded value
    std::string Text() const;

private:
    std::vector<std::pair<std::string, std::string>> members_;
};

std::string JsonArray(const std::vector<std::string>& encodedItems);

}  // namespace cli
