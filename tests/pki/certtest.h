// Helpers of the certificate and CRL tests: fixture files of
// tests/data/pki/certs, a small TLV splitter to build malformed variants of
// real structures, and digests of objects.
#pragma once

#include "asn1/asnbase.h"
#include "base/memfile.h"
#include "pki/fixture_lines.h"

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace certtest {

using Bytes = std::vector<unsigned char>;

inline Bytes readFile(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/certs/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Decodes a file (DER or armour) into `o`: the decoder's result. A value
// read in place keeps a private copy of its octets.
inline int decodeBytes(ASNobject& o, const Bytes& b, unsigned char flags = 0) {
  if (flags & ASN_FLAG_CONST) flags |= ASN_FLAG_COPY;
  MemFile m(const_cast<unsigned char*>(b.data()), static_cast<int32_t>(b.size()), false);
  return o.decode(&m, static_cast<int>(b.size()), flags);
}

// `der` with its length field at `at` written one octet longer (a form DER
// forbids, BER allows), the last octet of each enclosing length at `raise`
// (all before `at`, one octet below 0xFF) raised by one.
inline Bytes longerLength(const Bytes& der, size_t at, std::initializer_list<size_t> raise) {
  const size_t k = der[at] < 0x80 ? 0 : der[at] & 0x7F;
  Bytes b(der.begin(), der.begin() + static_cast<long>(at));
  if (k == 0) {
    b.insert(b.end(), {0x81, der[at]});
  } else {
    b.insert(b.end(), {static_cast<unsigned char>(der[at] + 1), 0});
    b.insert(b.end(), der.begin() + static_cast<long>(at + 1), der.begin() + static_cast<long>(at + 1 + k));
  }
  b.insert(b.end(), der.begin() + static_cast<long>(at + 1 + k), der.end());
  for (size_t i : raise) b[i] = static_cast<unsigned char>(b[i] + 1);
  return b;
}

inline std::string sha256Hex(const ASNobject& o) {
  Bytes d(32);
  o.digest(3, d.data(), 32);
  return pkitest::hex(d);
}

struct Tlv {
  unsigned char tag;
  Bytes content;
};

inline size_t readTlv(const Bytes& b, size_t i, Tlv* t) {
  t->tag = b.at(i);
  size_t n = b.at(i + 1), h = 2;
  if (n & 0x80) {
    size_t k = n & 0x7f;
    n = 0;
    for (size_t j = 0; j < k; ++j) n = n * 256 + b.at(i + 2 + j);
    h += k;
  }
  t->content.assign(b.begin() + static_cast<long>(i + h), b.begin() + static_cast<long>(i + h + n));
  return h + n;
}

inline std::vector<Tlv> split(const Bytes& content) {
  std::vector<Tlv> out;
  for (size_t i = 0; i < content.size();) {
    Tlv t;
    i += readTlv(content, i, &t);
    out.push_back(t);
  }
  return out;
}

inline Bytes encodeTlv(unsigned char tag, const Bytes& content) {
  Bytes out{tag};
  size_t n = content.size();
  if (n < 128) {
    out.push_back(static_cast<unsigned char>(n));
  } else {
    Bytes l;
    for (; n; n >>= 8) l.insert(l.begin(), static_cast<unsigned char>(n & 0xff));
    out.push_back(static_cast<unsigned char>(0x80 | l.size()));
    out.insert(out.end(), l.begin(), l.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes join(const std::vector<Tlv>& items) {
  Bytes out;
  for (const auto& t : items) {
    Bytes e = encodeTlv(t.tag, t.content);
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

// The outer SEQUENCE's members; the first (TBS) member's members.
struct Signed {
  std::vector<Tlv> outer;
  std::vector<Tlv> tbs;
};

inline Signed open(const Bytes& der) {
  Tlv top;
  readTlv(der, 0, &top);
  Signed s;
  s.outer = split(top.content);
  s.tbs = split(s.outer.at(0).content);
  return s;
}

inline Bytes close(const Signed& s) {
  std::vector<Tlv> outer = s.outer;
  outer[0].content = join(s.tbs);
  return encodeTlv(0x30, join(outer));
}

// A DER value as a tree, to change one element deep inside a real
// structure: constructed values hold their elements, others their content.
// Written back with minimal lengths, except a node marked longForm, whose
// length takes one octet more than it needs, or indefinite (both BER).
struct Node {
  unsigned char tag = 0;
  bool longForm = false;
  Bytes content;
  std::vector<Node> elements;
  bool indefinite = false;
};

inline Node parseNode(const Bytes& b, size_t i, size_t* used) {
  Tlv t;
  *used = readTlv(b, i, &t);
  Node n;
  n.tag = t.tag;
  if (!(t.tag & 0x20)) {
    n.content = t.content;
    return n;
  }
  for (size_t j = 0; j < t.content.size();) {
    size_t k = 0;
    n.elements.push_back(parseNode(t.content, j, &k));
    j += k;
  }
  return n;
}

inline Node parseTree(const Bytes& der) {
  size_t used = 0;
  return parseNode(der, 0, &used);
}

inline Bytes writeTree(const Node& n) {
  Bytes content = n.content;
  for (const Node& e : n.elements) {
    Bytes w = writeTree(e);
    content.insert(content.end(), w.begin(), w.end());
  }
  if (n.indefinite) {
    Bytes out{n.tag, 0x80};
    out.insert(out.end(), content.begin(), content.end());
    out.insert(out.end(), {0, 0});
    return out;
  }
  Bytes out = encodeTlv(n.tag, content);
  if (n.longForm) {
    // One length octet more: 0x81 for a short length, a leading zero else.
    const size_t k = out[1] & 0x80 ? (out[1] & 0x7F) : 0;
    Bytes len{static_cast<unsigned char>(0x80 | (k + 1)), 0};
    if (k == 0)
      len[1] = out[1];
    else
      len.insert(len.end(), out.begin() + 2, out.begin() + 2 + static_cast<long>(k));
    out.erase(out.begin() + 1, out.begin() + 2 + static_cast<long>(k));
    out.insert(out.begin() + 1, len.begin(), len.end());
  }
  return out;
}

// The element reached by taking the given element indices in turn.
inline Node& nodeAt(Node& root, const std::vector<int>& path) {
  Node* n = &root;
  for (int i : path) n = &n->elements.at(static_cast<size_t>(i));
  return *n;
}

}  // namespace certtest
