// Helpers shared by the parser test files: reading descriptor files and parsing bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/hid/preparsed.h"

namespace parsertest {

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::unique_ptr<hidparse::PreparsedData> Parse(const std::vector<std::uint8_t>& bytes,
                                                      NTSTATUS* status = nullptr) {
    std::unique_ptr<hidparse::PreparsedData> out;
    const NTSTATUS s = hidparse::ParseReportDescriptor(bytes, out);
    if (status != nullptr) *status = s;
    return out;
}

inline PHIDP_PREPARSED_DATA Handle(const std::unique_ptr<hidparse::PreparsedData>& data) {
    return hidparse::ToHandle(data.get());
}

// Usage Page (Generic Desktop), Usage (0), Collection (Application), body, End Collection.
inline std::vector<std::uint8_t> Tlc(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out = {0x05, 0x01, 0x09, 0x00, 0xA1, 0x01};
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(0xC0);
    return out;
}

inline std::filesystem::path DescriptorDir() { return std::filesystem::path(UVC_TEST_DATA_DIR) / "descriptors"; }

}  // namespace parsertest
