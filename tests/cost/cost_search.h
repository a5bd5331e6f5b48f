// The cost check's search: documents and expressions drawn at random from a
// seed, on top of its fixed families. A document's shape (depth, fan-out,
// attributes, texts) and its names, prefixes and namespace URIs (some long,
// sharing all but their end, so that comparisons read far) are drawn first;
// the expressions use those names, and are drawn from XPath 1.0's grammar as
// far as the bound's parser reads it (paths, the thirteen axes, name and kind
// tests, predicates, unions, the operators, the core functions with here(),
// literals and numbers), as XPointers (after xmlns() parts for the prefixes
// and element() parts, at random) and as filters (with the document's
// prefixes registered, as a signature's XPath element in their scope has
// them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct GeneratedDocument {
  std::string summary;         // the shape drawn, for the table
  std::string rootAttributes;  // the prefixes' declarations
  std::string body;
  std::vector<std::string> xpointers, filters;
  std::vector<std::pair<std::string, std::string>> namespaces;  // prefix and URI, for the filters
};

// Document `index` of the search from `seed`, with `expressions` expressions
// over it (alternately an XPointer and a filter). The same arguments give the
// same document and expressions.
GeneratedDocument generatedDocument(uint64_t seed, size_t index, size_t expressions);
