// The top-level collections of a report descriptor, each as a descriptor of its own that
// the parser (which builds the first top-level collection) reads as Windows reads that
// collection: the global items before it still apply, the main and local items of the
// collections before it do not.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace hidcaps {

// One descriptor per top-level collection, in descriptor order. A descriptor without a
// complete short-item structure gives one entry: itself unchanged, for the parser to judge.
std::vector<std::vector<std::uint8_t>> SplitTopLevelCollections(std::span<const std::uint8_t> descriptor);

}  // namespace hidcaps
