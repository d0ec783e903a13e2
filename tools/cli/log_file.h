// The --log file. Several processes, and the boards of one station, may append to one log,
// so every line says when (UTC, to the millisecond), which process and which device it is
// about, and is written whole with one write:
//   2026-01-31T12:00:00.123Z uvc-hid[4242] 1-2.3: FlashWrite -- Compare data OK.
// With --log-json each line is a JSON object instead:
//   {"time": "2026-01-31T12:00:00.123Z", "pid": 4242, "device": "1-2.3", "trace": "..."}
// The device is the USB port path, else the simulator's socket name, else the interface
// path; "-" before one is chosen. Thread-safe.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace cli {

// A value of a key=value line: as it stands when it is one plain word, else quoted with
// \" and \\ escaped; control characters escaped as in JSON. So a line splits on blanks
// and every value reads back whole.
std::string FieldValue(std::string_view value);
// " key=value", for building such lines.
std::string Field(std::string_view key, std::string_view value);

// A line of text without its trailing line end, with inner line breaks escaped.
std::string OneLine(std::string_view text);

class LogFile {
public:
    LogFile(std::FILE* file, bool json);  // owns `file`
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // A text line of `kind` ("trace", "warning", "summary", "station", ...): plain, its
    // text; JSON, {"<kind>": text}.
    void Write(std::string_view device, std::string_view kind, std::string_view text);
    // A line whose plain form is `plain` and whose JSON form is {"<kind>": json}, `json`
    // an encoded value.
    void WriteValue(std::string_view device, std::string_view kind, std::string_view plain, std::string_view json);

    // The first failure to write, or empty. After it the log gets nothing more, so it never
    // holds lines with a gap before them.
    std::string Error();
    // Closes the file; answers the first failure, the close's included.
    std::string Close();

private:
    void Put(const std::string& line);  // under lock_

    std::mutex lock_;
    std::FILE* file_;
    const bool json_;
    const long pid_;
    std::string error_;
};

}  // namespace cli
