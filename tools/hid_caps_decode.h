// hid_caps --decode: reads one report against a descriptor and prints, as JSON, its data
// list (HidP_GetData) and, per capability, the buttons that are on and the values, raw
// and scaled.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace hidcaps {

// `args` are the words after --decode: <input|output|feature> <hex report> <descriptor>.
// The report is hex text (as for a descriptor file) of exactly the type's report byte
// length, byte 0 the report ID (0 without report IDs). Exit status as hid_caps: 0 printed,
// 1 descriptor refused or report not decodable, 2 usage or input error.
int RunDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace hidcaps
