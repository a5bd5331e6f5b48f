// Conversion objects of libvorinpp: an octet string with file input and
// output (LvConv), a NUL-terminated text with search and edit operations
// (LvConvASCII) and an octet string also built from hexadecimal (LvConvOS).
//
// File names given to writeFile and fprintTxt may carry an fopen mode after a
// plus sign ("out.bin+wb"); without one the file is opened for appending.
#pragma once

#include <cstdint>
#include <cstdio>

#include "crypto/basic/lvoctmem.h"

class LvConv {
 public:
  LvConv() noexcept : m_contentLength(0) {}
  explicit LvConv(unsigned int n) : m_buf(n), m_contentLength(0) {}
  // An int size (a literal 0 would otherwise also match a text pointer).
  explicit LvConv(int n) : LvConv(static_cast<unsigned int>(n < 0 ? 0 : n)) {}
  LvConv(const LvOctet* data, unsigned int n);
  LvConv(const LvConv& other) = default;
  LvConv& operator=(const LvConv& other) = default;
  virtual ~LvConv() = default;

  // Replaces the content with what the stream yields (bound 0: to the end,
  // else at most bound octets); returns the octets read.
  virtual unsigned int read(FILE* stream, unsigned int bound);
  virtual unsigned int readFile(const char* fileName, unsigned int bound);
  virtual unsigned int read(FILE* stream);
  virtual unsigned int readFile(const char* fileName);
  virtual void write(FILE* stream) const;
  virtual void writeFile(const char* fileName) const;
  virtual void fprint(FILE* stream, const char* beginFrase, const char* endFrase,
                      const char* format) const;
  virtual void fprintTxt(const char* fileName, const char* beginFrase, const char* endFrase,
                         const char* format) const;
  virtual bool operator==(const LvConv& other) const;
  virtual bool operator!=(const LvConv& other) const;
  virtual LvOctet* ptr();
  virtual const LvOctet* ptr() const;
  virtual const LvOctet& operator[](unsigned int idx) const;
  virtual unsigned int getLength() const;
  unsigned int length() const { return getLength(); }
  const LvOctet* data() const { return ptr(); }

 protected:
  // Makes room for n content octets, keeping the current content.
  void reserve(unsigned int n);
  void setContent(const LvOctet* data, unsigned int n);
  void appendContent(const LvOctet* data, unsigned int n);

  LvOctMem m_buf;
  std::uint32_t m_contentLength;
};

class LvConvASCII : public LvConv {
 public:
  // The empty text: one inline octet, already zero, is its NUL (what setEmpty() leaves, without
  // its growth and copy: every mechanism makes one).
  LvConvASCII() : LvConv(1u) { m_contentLength = 1; }
  explicit LvConvASCII(unsigned int n);
  explicit LvConvASCII(int n) : LvConvASCII(static_cast<unsigned int>(n < 0 ? 0 : n)) {}
  LvConvASCII(const char* text);
  LvConvASCII& operator=(const char* text);
  LvConvASCII(const LvConvASCII& other) = default;
  LvConvASCII& operator=(const LvConvASCII& other) = default;

  // Prints the text with "%s" (writeFile uses it too).
  void write(FILE* stream) const override;
  // The octets read become the text, followed by its NUL (readFile uses it
  // too); returns the octets read.
  unsigned int read(FILE* stream, unsigned int bound) override;
  using LvConv::read;

  void assign(const char* text, unsigned int n = 1);
  void append(const char* text, unsigned int n = 1);
  // Appends another text (its NUL ends the result).
  LvConvASCII& operator+=(const LvConvASCII& other);
  void cut(unsigned int n);
  unsigned int removeWhiteSpaces();
  unsigned int remove(const char* substring);
  // Index of the first occurrence at or after `from`, or 0xFFFFFFFF.
  unsigned int find(const char* substring, unsigned int from = 0) const;
  unsigned int split(LvConvASCII& left, LvConvASCII& right, const char* separator) const;
  unsigned int getTextLength() const;
  bool operator==(const char* text) const;
  bool operator==(const LvConvASCII& other) const;
  bool operator!=(const char* text) const;
  bool operator!=(const LvConvASCII& other) const;
  // Reads one logical line: white space and comment lines skipped, a comment
  // ends the line, escape + newline joins lines.
  void readLine(FILE* stream, char commentChar, char escapeChar);
  void readLine(FILE* stream);
  const char* getText() const;

 private:
  void setEmpty();
};

class LvConvOS : public LvConv {
 public:
  LvConvOS() noexcept;
  explicit LvConvOS(unsigned int n);
  explicit LvConvOS(int n) : LvConvOS(static_cast<unsigned int>(n < 0 ? 0 : n)) {}
  LvConvOS(const LvOctet* data, unsigned int n);
  // Hexadecimal text of even length, either case; LvWrongSyntaxException
  // otherwise.
  explicit LvConvOS(const char* hexText);
  LvConvOS(const LvConvOS& other) = default;
  LvConvOS& operator=(const LvConvOS& other) = default;

  LvConvOS& operator+=(const LvConvOS& other);
  // Content of n octets: kept octets stay, new ones are zero.
  void resize(unsigned int n);
};

LvConvOS operator+(const LvConvOS& a, const LvConvOS& b);
