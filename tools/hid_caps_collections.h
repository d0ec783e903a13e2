// The top-level collections of a report descriptor, each as a descriptor of its own that
// the parser (which builds the first top-level collection) reads as Windows reads that
// collection: the global items before it still apply, the main and local items of the
// collections before it do not.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace hidcaps {

// One descriptor per top-level collection, in descriptor order. The first runs to the end
// of the descriptor, so that parsing it reads and checks every item once. Each later one
// ends with its own End Collection and starts with the global state in force before it,
// written as the fewest global items that give that state (per Push level the last item
// of each tag, and the Pushes between levels), so the entries together grow linearly with
// the descriptor however many collections it has. Later entries assume the first was
// accepted: a descriptor the parser refuses is refused in the first. A descriptor without
// a complete short-item structure gives one entry: itself unchanged, for the parser to judge.
std::vector<std::vector<std::uint8_t>> SplitTopLevelCollections(std::span<const std::uint8_t> descriptor);

// Parses every top-level collection of `descriptor` and prints what the HidP functions
// report for each, as JSON: one collection as one object, several as
// {"TopLevelCollections": [...]}, one object each. Nothing is printed to `out` when a
// collection is refused; `err` then names `name`, the collection and the status.
// Answers hid_caps' exit status: 0 printed, 1 refused.
int PrintTopLevelCollections(const std::string& name, std::span<const std::uint8_t> descriptor, std::ostream& out,
                             std::ostream& err);

}  // namespace hidcaps
