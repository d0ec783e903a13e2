#include "tools/cli/log_file.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "tools/cli/json.h"

namespace cli {

namespace {

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

}  // namespace

std::string FieldValue(std::string_view value) {
    bool plain = !value.empty();
    for (char c : value)
        if (static_cast<unsigned char>(c) <= 0x20 || c == '"' || c == '\\' || c == '=') plain = false;
    return plain ? std::string(value) : JsonString(value);
}

std::string Field(std::string_view key, std::string_view value) { return " " + std::string(key) + "=" + FieldValue(value); }

std::string OneLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

LogFile::LogFile(std::FILE* file, bool json) : file_(file), json_(json), pid_(static_cast<long>(::getpid())) {
    // One write per line, so that processes sharing the log append whole lines.
    std::setvbuf(file_, nullptr, _IOLBF, 0);
}

LogFile::~LogFile() { Close(); }

void LogFile::Write(std::string_view device, std::string_view kind, std::string_view text) {
    const std::string line = OneLine(text);
    WriteValue(device, kind, line, json_ ? JsonString(line) : std::string());
}

void LogFile::WriteValue(std::string_view device, std::string_view kind, std::string_view plain, std::string_view json) {
    const std::string where = device.empty() ? "-" : std::string(device);
    std::string line;
    if (json_) {
        line = JsonObject()
                   .Add("time", TimeStamp())
                   .Add("pid", std::int64_t{pid_})
                   .Add("device", where)
                   .AddRaw(kind, std::string(json))
                   .Text();
    } else {
        line = TimeStamp() + " uvc-hid[" + std::to_string(pid_) + "] " + OneLine(where) + ": " + std::string(plain);
    }
    std::lock_guard guard(lock_);
    Put(line + "\n");
}

// Checked; after the first failure nothing more is written.
void LogFile::Put(const std::string& line) {
    if (file_ == nullptr || !error_.empty()) return;
    errno = 0;
    if (std::fputs(line.c_str(), file_) == EOF || std::fflush(file_) == EOF || std::ferror(file_))
        error_ = errno != 0 ? std::strerror(errno) : "write error";
}

std::string LogFile::Error() {
    std::lock_guard guard(lock_);
    return error_;
}

std::string LogFile::Close() {
    std::lock_guard guard(lock_);
    if (file_ != nullptr && std::fclose(file_) != 0 && error_.empty()) error_ = std::strerror(errno);
    file_ = nullptr;
    return error_;
}

}  // namespace cli
