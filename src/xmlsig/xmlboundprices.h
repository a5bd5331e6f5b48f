// The prices of the bound's model (xmlboundmodel.cpp), in its units.
#pragma once

namespace xmlbound {

// A unit is about 8 instructions of libxml2's work (a nanosecond or less
// here). The instruction-count check over crafted documents (tests/cost)
// measures every expression the transforms accept against its whole bound
// and fails above 16 instructions per unit; it checks the sum, not each
// price. A price cut to a quarter fails it only where the price is most of
// some case's bound: HASH_OCTET and NUMBER_FORMAT so cut pass it
// (tests/cost/mutate.sh lists the cuts it catches).
// Measured (callgrind, libxml2 2.9.14, x86-64, over a construct that isolates
// the price, rounded up to units): VISIT (110 instructions a node kept),
// PASSED_OVER (67 a node passed over), OPERATION (about 220), STEP_START (about 900),
// CONTEXT_NODE (about 110), EVALUATION_START (about 4,000 with the counting
// allocator), FILTER_EVALUATION_START (1,320 with an operation), ALLOCATION
// (about 500; here() with its set of one node, 690), NUMBER_FORMAT (a
// fraction's printf, some 3,200).
// Reasoned from the loops of xpath.c (their bodies' instructions read, not
// measured apart): OCTET, PAIR, NAMESPACE_COPY (three ALLOCATIONs),
// NUMBERED_COMPARE, LANG_LOOK, ID_OCTET (four reads of an octet), and the
// sizes NUMBER_LENGTH (xmlXPathFormatNumber's buffer, raised to 48 when the
// cost check found a formatted number costing more) and COMPILE_OCTET (with
// room). Set from the cost check's counts: ID_TOKEN (some 400 instructions a
// token), LANG_LOOK (some 77 instructions an attribute named
// lang under another prefix), and the statistics walk's WALK_NODE and WALK_START
// (xmlxpointerstats.cpp).

// An octet read by a string comparison (xmlStrEqual's loop, about 6
// instructions an octet, which stops at the first difference) or copied by a
// duplicate or a string value's buffer (about 3): string work is priced by the
// octets it reads, never per string.
inline const double OCTET = 1;
// Each node an axis shows a context node: the axis function's step, the node
// test's switch, the operation count, the append of a hit and its share of the
// set's growth (67 instructions a node passed over, 110 a node kept).
inline const double VISIT = 16;
// Of a VISIT, what a node the test passes over costs (67 instructions): the
// rest is the append of a node kept.
inline const double PASSED_OVER = 9;
// Each operation libxml2 evaluates for one context node, or each candidate a
// predicate is evaluated for: a value object taken from the cache, pushed and
// popped, the operation's dispatch (about 220 instructions).
inline const double OPERATION = 32;
// A step, once for each evaluation: its node sets made and released (about
// 900 instructions); and for each context node, the axis's start and the merge
// of its nodes (about 110 instructions).
inline const double STEP_START = 128;
inline const double CONTEXT_NODE = 16;
// An evaluation's own start: the parser context and its value stack made and
// freed through the counting allocator, the context's state kept and put back
// (600 instructions in libxml2 alone, some 4,000 with the allocator's count).
inline const double EVALUATION_START = 512;
// A filter's evaluation for one node of its input, its expression compiled
// once (xmlXPathCompiledEvalToBoolean: the parser context and value stack
// made and freed; 1,320 instructions measured with true()'s operation), and
// our own share around it (a memory scope, the net's section: a tiny
// document's search measured some 3,800 instructions a node in all).
inline const double FILTER_EVALUATION_START = 256;
// What compiling costs per octet of the expression (xmlXPathCompileExpr's
// descent and the operations it appends, the XPointer parts' scan), with room.
inline const double COMPILE_OCTET = 32;
// One pair of a duplicate check (the merges' inner loop: two pointers and
// their node types compared, about 7 instructions); a namespace node pair
// compares prefixes too.
inline const double PAIR = 2;
// A namespace node put in a set is a copy (xmlXPathNodeSetDupNs: three blocks,
// the node and its prefix and URI, each freed again with the set).
inline const double NAMESPACE_COPY = 3 * 64;
// A block a function's string result takes and gives back (through the
// counting allocator, about 500 instructions).
inline const double ALLOCATION = 64;
// Sorting compares two elements of a numbered document by the numbers they
// carry (xmlXPathCmpNodesExt), with the timsort's moves around it.
inline const double NUMBERED_COMPARE = 4;
// Each node and attribute our lang() looks at: a pointer followed, a name
// compared with "lang" (five octets at most), about 15 instructions.
inline const double LANG_LOOK = 6;
// A string read as a number (xmlXPathStringEvalNumber: a multiply-add per
// digit, about 10 instructions an octet).
inline const double NUMBER_OCTET = 2;
// An octet of a prefix a step looks up at every evaluation (xmlXPathNsLookup:
// xmlHashComputeKey's shifts and adds, about 8 instructions an octet; the
// comparisons with the registered prefixes are priced as OCTETs). Those
// comparisons, priced against every registered prefix, leave room enough
// that the cost check passes this price cut to a quarter.
inline const double HASH_OCTET = 1;
// A number's string form: xmlXPathFormatNumber writes at most 24 characters.
inline const double NUMBER_LENGTH = 48;
// id() reads each octet of its argument about four times: the string value,
// the scan for white space, the token's key and its hash.
inline const double ID_OCTET = 8;
// A number written out as a string. xmlXPathCastNumberToString of a
// fraction measured some 3,200 instructions (callgrind, 2.9.14: a printf): 400
// units by the unit's 8 (string()'s call around it is an OPERATION). The cost
// check cannot tell this price from a quarter of it (the operations around
// each number carry the rest of its cases' bounds), so it is set by the
// measurement.
inline const double NUMBER_FORMAT = 400;
// One id() token looked up: its copy and the index's hash look-up (reasoned
// from some 400 instructions measured on one-octet tokens).
inline const double ID_TOKEN = 32;
// A product of string lengths past any cap: the sum it joins stays finite and
// is refused.
inline const double PRODUCT_CEILING = 1e30;

}  // namespace xmlbound
