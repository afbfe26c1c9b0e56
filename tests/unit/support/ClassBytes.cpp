#include "support/ClassBytes.h"

#include <stdexcept>

namespace {

void put2(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
void put4(std::vector<uint8_t>& out, uint32_t v) {
  put2(out, v >> 16);
  put2(out, v);
}

// Reads big-endian values, throwing at the end of the bytes.
struct Reader {
  const std::vector<uint8_t>& b;
  size_t at = 0;
  uint32_t n(int size) {
    if (at + size > b.size()) throw std::out_of_range("class cut short");
    uint32_t v = 0;
    for (int i = 0; i < size; i++) v = v << 8 | b[at++];
    return v;
  }
  std::string text(size_t length) {
    if (at + length > b.size()) throw std::out_of_range("class cut short");
    at += length;
    return std::string(b.begin() + long(at - length), b.begin() + long(at));
  }
};

}  // namespace

TestClass::TestClass(const std::string& name, uint16_t access) : access_(access) {
  if (name.empty()) return;
  this_ = cls(name);
  super_ = cls("java/lang/Object");
}

uint16_t TestClass::utf8(const std::string& text) {
  for (size_t i = 0; i < texts_.size(); i++) {
    if (texts_[i] == text && !text.empty()) return uint16_t(i);
  }
  std::vector<uint8_t> body;
  put2(body, uint32_t(text.size()));
  body.insert(body.end(), text.begin(), text.end());
  uint16_t index = raw(1, body);
  texts_.resize(index + 1);
  texts_[index] = text;
  return index;
}

uint16_t TestClass::cls(const std::string& name) {
  uint16_t text = utf8(name);
  return raw(7, {uint8_t(text >> 8), uint8_t(text)});
}

uint16_t TestClass::methodref(const std::string& owner, const std::string& name,
                              const std::string& type) {
  uint16_t c = cls(owner), n = utf8(name), t = utf8(type);
  uint16_t nat = raw(12, {uint8_t(n >> 8), uint8_t(n), uint8_t(t >> 8), uint8_t(t)});
  return lastMethodref_ = raw(10, {uint8_t(c >> 8), uint8_t(c), uint8_t(nat >> 8), uint8_t(nat)});
}

uint16_t TestClass::wide(uint8_t tag) {
  uint16_t index = raw(tag, std::vector<uint8_t>(8, 0));
  count_++;
  return index;
}

uint16_t TestClass::raw(uint8_t tag, const std::vector<uint8_t>& body) {
  pool_.push_back(tag);
  pool_.insert(pool_.end(), body.begin(), body.end());
  return count_++;
}

void TestClass::declareThrows() {
  utf8("Exceptions");
  cls("java/lang/ClassFormatError");
}

void TestClass::method(uint16_t access, const std::string& name, const std::string& type,
                       const std::vector<uint8_t>& code) {
  uint16_t codeName = utf8("Code"), n = utf8(name), t = utf8(type);
  put2(methods_, access);
  put2(methods_, n);
  put2(methods_, t);
  put2(methods_, 1);
  put2(methods_, codeName);
  put4(methods_, uint32_t(12 + code.size()));
  put2(methods_, 4);
  put2(methods_, 8);
  put4(methods_, uint32_t(code.size()));
  methods_.insert(methods_.end(), code.begin(), code.end());
  put4(methods_, 0);  // no exception table, no attributes
  methodCount_++;
}

std::vector<uint8_t> TestClass::bytes(uint16_t major) const {
  std::vector<uint8_t> out = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0};
  put2(out, major);
  put2(out, count_);
  out.insert(out.end(), pool_.begin(), pool_.end());
  put2(out, access_);
  put2(out, this_);
  put2(out, super_);
  put4(out, 0);  // interfaces, fields
  put2(out, methodCount_);
  out.insert(out.end(), methods_.begin(), methods_.end());
  put2(out, 0);
  return out;
}

std::string ParsedClass::methodrefText(uint16_t index) const {
  auto at = [&](uint16_t i) -> const Entry& {
    static const Entry none;
    return i < pool.size() ? pool[i] : none;
  };
  const Entry& ref = at(index);
  if (ref.tag != 10) return "";
  const Entry& nat = at(ref.b);
  return at(at(ref.a).a).text + "." + at(nat.a).text + at(nat.b).text;
}

ParsedClass ParsedClass::parse(const std::vector<uint8_t>& bytes) {
  ParsedClass c;
  Reader in{bytes};
  try {
    if (in.n(4) != 0xCAFEBABE) return c;
    in.n(4);
    c.poolCount = uint16_t(in.n(2));
    c.pool.resize(c.poolCount);
    for (size_t i = 1; i < c.poolCount; i++) {
      Entry& e = c.pool[i];
      e.tag = uint8_t(in.n(1));
      if (e.tag == 1) {
        e.text = in.text(in.n(2));
      } else if (e.tag == 7 || e.tag == 8) {
        e.a = uint16_t(in.n(2));
      } else if (e.tag >= 9 && e.tag <= 12) {
        e.a = uint16_t(in.n(2));
        e.b = uint16_t(in.n(2));
      } else if (e.tag == 3 || e.tag == 4) {
        in.n(4);
      } else if (e.tag == 5 || e.tag == 6) {
        in.n(4), in.n(4), i++;
      } else {
        return c;
      }
    }
    auto text = [&](uint32_t i) { return i < c.pool.size() ? c.pool[i].text : std::string(); };
    in.n(2);
    c.thisClass = text(c.pool.at(in.n(2)).a);
    in.n(2);
    in.text(2 * in.n(2));
    for (uint32_t fields = in.n(2); fields > 0; fields--) {
      in.n(6);
      for (uint32_t a = in.n(2); a > 0; a--) in.n(2), in.text(in.n(4));
    }
    for (uint32_t methods = in.n(2); methods > 0; methods--) {
      ParsedMethod m;
      m.access = uint16_t(in.n(2));
      m.name = text(in.n(2));
      m.type = text(in.n(2));
      for (uint32_t a = in.n(2); a > 0; a--) {
        std::string name = text(in.n(2));
        uint32_t length = in.n(4);
        size_t end = in.at + length;
        if (name == "Code") {
          m.maxStack = uint16_t(in.n(2));
          m.maxLocals = uint16_t(in.n(2));
          std::string code = in.text(in.n(4));
          m.code.assign(code.begin(), code.end());
        } else if (name == "Exceptions") {
          for (uint32_t e = in.n(2); e > 0; e--) m.exceptions.push_back(text(c.pool.at(in.n(2)).a));
        }
        if (end > bytes.size() || in.at > end) return c;
        in.at = end;
      }
      c.methods.push_back(m);
    }
    for (uint32_t a = in.n(2); a > 0; a--) in.n(2), in.text(in.n(4));
    c.ok = in.at == bytes.size();
  } catch (const std::exception&) {
  }
  return c;
}
