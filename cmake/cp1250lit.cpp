// Rewrites the non-ASCII characters of ordinary narrow string and character
// literals of a UTF-8 C++ source as octal escapes of their Windows-1250 bytes,
// for a compiler that cannot compile narrow literals to that code page
// (clang has no -fexec-charset but UTF-8). Comments and u8/u/U/L literals stay
// as they are; the output starts with a #line naming the original file, so
// diagnostics, __FILE__ and debug information are unchanged.
//   cp1250lit IN OUT NAME   write the rewritten IN to OUT
//   cp1250lit --check IN    exit 0 when IN has such a literal, else 1
// Exit 2 on an unreadable file or a character Windows-1250 lacks (the
// Windows-1250 build rejects it too).
#include <iconv.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

bool identChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

class Rewriter {
 public:
  Rewriter(const std::string& in, const std::string& name) : s_(in), name_(name) {}

  // False on a character without a Windows-1250 byte.
  bool run() {
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == '/' && at(1) == '/') {
        lineComment();
      } else if (c == '/' && at(1) == '*') {
        blockComment();
      } else if (c >= '0' && c <= '9') {
        number();
      } else if (identChar(c)) {
        std::size_t b = i_;
        while (i_ < s_.size() && identChar(s_[i_])) i_++;
        std::string id = s_.substr(b, i_ - b);
        out_ += id;
        if (i_ < s_.size() && (s_[i_] == '"' || s_[i_] == '\'') && isPrefix(id)) {
          bool raw = id.back() == 'R';
          bool prefixed = id.size() > 1 || !raw;
          if (!literal(!prefixed && !prefixedChain_ && !prefixedAhead(), raw)) return false;
          prefixedChain_ = prefixed;
          continue;
        }
        prefixedChain_ = false;
      } else if (c == '"' || c == '\'') {
        if (!literal(!prefixedChain_ && !prefixedAhead(), false)) return false;
      } else {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') prefixedChain_ = false;
        out_ += c;
        if (c == '\n') line_++;
        i_++;
      }
    }
    return true;
  }

  const std::string& out() const { return out_; }
  bool changed() const { return changed_; }

 private:
  char at(std::size_t k) const { return i_ + k < s_.size() ? s_[i_ + k] : '\0'; }

  static bool isPrefix(const std::string& id) {
    return id == "u8" || id == "u" || id == "U" || id == "L" || id == "R" || id == "u8R" ||
           id == "uR" || id == "UR" || id == "LR";
  }

  // Whether an encoding-prefixed literal follows the ordinary literal at i_
  // in the same concatenation: the whole string then takes that encoding.
  bool prefixedAhead() const {
    std::size_t k = i_;
    bool first = true;
    while (k < s_.size()) {
      char c = s_[k];
      if (c == '"' || (first && c == '\'')) {
        if (c == '\'') return false;
        k++;
        while (k < s_.size() && s_[k] != '"' && s_[k] != '\n') k += (s_[k] == '\\') ? 2 : 1;
        k++;
        first = false;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        k++;
      } else if (c == '/' && k + 1 < s_.size() && s_[k + 1] == '/') {
        while (k < s_.size() && s_[k] != '\n') k++;
      } else if (c == '/' && k + 1 < s_.size() && s_[k + 1] == '*') {
        std::size_t e = s_.find("*/", k + 2);
        k = e == std::string::npos ? s_.size() : e + 2;
      } else {
        std::size_t b = k;
        while (k < s_.size() && identChar(s_[k])) k++;
        std::string id = s_.substr(b, k - b);
        return k < s_.size() && s_[k] == '"' && isPrefix(id) && id != "R";
      }
    }
    return false;
  }

  void copy(std::size_t n) {
    for (std::size_t k = 0; k < n && i_ < s_.size(); k++, i_++) {
      if (s_[i_] == '\n') line_++;
      out_ += s_[i_];
    }
  }

  void lineComment() {
    while (i_ < s_.size() && s_[i_] != '\n') {
      if (s_[i_] == '\\' && at(1) == '\n') copy(1);  // continued comment
      copy(1);
    }
  }

  void blockComment() {
    copy(2);
    while (i_ < s_.size() && !(s_[i_] == '*' && at(1) == '/')) copy(1);
    copy(2);
  }

  // A pp-number, whose digit separators are no character literals.
  void number() {
    while (i_ < s_.size()) {
      char c = s_[i_];
      if ((c == 'e' || c == 'E' || c == 'p' || c == 'P') && (at(1) == '+' || at(1) == '-')) {
        copy(2);
      } else if (c == '\'' && identChar(at(1))) {
        copy(2);
      } else if (identChar(c) || c == '.') {
        copy(1);
      } else {
        break;
      }
    }
  }

  // The literal at i_ (its prefix already copied). Only narrow ones change.
  bool literal(bool narrow, bool raw) {
    if (raw) return rawLiteral(narrow);
    char q = s_[i_];
    std::size_t e = i_ + 1;
    while (e < s_.size() && s_[e] != q && s_[e] != '\n') e += (s_[e] == '\\') ? 2 : 1;
    if (e >= s_.size() || s_[e] != q) {  // not a literal (an apostrophe in #error text)
      copy(1);
      return true;
    }
    std::string body = s_.substr(i_ + 1, e - i_ - 1);
    std::string conv;
    if (!narrow || !convert(body, conv)) {
      if (narrow && failed_) return false;
      copy(e + 1 - i_);
      return true;
    }
    out_ += q;
    out_ += conv;
    out_ += q;
    i_ = e + 1;
    changed_ = true;
    return true;
  }

  // R"d( ... )d": runs of non-ASCII text become escaped ordinary literals
  // between raw pieces, which concatenate to the same string; line breaks stay.
  bool rawLiteral(bool narrow) {
    std::size_t open = s_.find('(', i_);
    if (open == std::string::npos) {
      copy(1);
      return true;
    }
    std::string delim = s_.substr(i_ + 1, open - i_ - 1);
    std::string close = ")" + delim + "\"";
    std::size_t end = s_.find(close, open);
    if (end == std::string::npos) {
      copy(1);
      return true;
    }
    std::string body = s_.substr(open + 1, end - open - 1);
    bool ascii = true;
    for (char c : body) ascii = ascii && !(c & 0x80);
    if (!narrow || ascii) {
      copy(end + close.size() - i_);
      return true;
    }
    out_ += "\"" + delim + "(";
    std::size_t k = 0;
    while (k < body.size()) {
      if (!(body[k] & 0x80)) {
        if (body[k] == '\n') line_++;
        out_ += body[k++];
        continue;
      }
      std::size_t b = k;
      while (k < body.size() && (body[k] & 0x80)) k++;
      std::string conv;
      if (!convert(body.substr(b, k - b), conv)) return false;
      out_ += ")" + delim + "\" \"" + conv + "\" R\"" + delim + "(";
    }
    out_ += close;
    i_ = end + close.size();
    changed_ = true;
    return true;
  }

  // True when body had non-ASCII text, conv its escaped form.
  bool convert(const std::string& body, std::string& conv) {
    bool any = false;
    std::size_t k = 0;
    while (k < body.size()) {
      unsigned char c = body[k];
      if (c == '\\' && k + 1 < body.size()) {
        conv += body.substr(k, 2);
        k += 2;
        continue;
      }
      if (!(c & 0x80)) {
        conv += body[k++];
        continue;
      }
      std::size_t n = (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 1;
      std::string ch = body.substr(k, n);
      char b;
      if (!toCp1250(ch, b)) {
        std::cerr << name_ << ":" << line_ << ": no Windows-1250 byte for \"" << ch << "\"\n";
        failed_ = true;
        return false;
      }
      char esc[8];
      std::snprintf(esc, sizeof(esc), "\\%03o", static_cast<unsigned char>(b));
      conv += esc;
      any = true;
      k += n;
    }
    return any;
  }

  static bool toCp1250(const std::string& ch, char& b) {
    iconv_t cd = iconv_open("CP1250", "UTF-8");
    if (cd == (iconv_t)-1) return false;
    std::string in = ch;
    char* ip = &in[0];
    std::size_t il = in.size();
    char buf[4];
    char* op = buf;
    std::size_t ol = sizeof(buf);
    std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == (std::size_t)-1 || il != 0 || op - buf != 1) return false;
    b = buf[0];
    return true;
  }

  const std::string& s_;
  std::string name_;
  std::string out_;
  std::size_t i_ = 0;
  unsigned line_ = 1;
  bool changed_ = false;
  bool failed_ = false;
  bool prefixedChain_ = false;  // a prefixed literal, then only blanks
};

bool readFile(const char* path, std::string& s) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  s = ss.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (!check && argc != 4) {
    std::cerr << "usage: cp1250lit IN OUT NAME | cp1250lit --check IN\n";
    return 2;
  }
  const char* in = check ? argv[2] : argv[1];
  std::string src;
  if (!readFile(in, src)) {
    std::cerr << "cp1250lit: cannot read " << in << "\n";
    return 2;
  }
  Rewriter r(src, check ? in : argv[3]);
  if (!r.run()) return 2;
  if (check) return r.changed() ? 0 : 1;
  std::ofstream o(argv[2], std::ios::binary);
  std::string name = argv[3];
  o << "#line 1 \"" << name << "\"\n" << r.out();
  o.close();
  if (!o) {
    std::cerr << "cp1250lit: cannot write " << argv[2] << "\n";
    return 2;
  }
  return 0;
}
