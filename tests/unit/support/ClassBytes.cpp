#include "support/ClassBytes.h"

#include <stdexcept>

namespace {

void put(std::vector<uint8_t>& out, uint32_t v, int size = 2) {
  for (int i = size - 1; i >= 0; i--) out.push_back(uint8_t(v >> 8 * i));
}

}  // namespace

TestClass::TestClass(const std::string& name, uint16_t access) : access_(access) {
  if (name.empty()) return;
  this_ = cls(name);
  super_ = cls("java/lang/Object");
}

uint16_t TestClass::utf8(const std::string& text) {
  for (size_t i = 0; i < texts_.size(); i++)
    if (texts_[i] == text && !text.empty()) return uint16_t(i);
  std::vector<uint8_t> body;
  put(body, uint32_t(text.size()));
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
  for (uint32_t v : {uint32_t(access), uint32_t(n), uint32_t(t), 1u, uint32_t(codeName)})
    put(methods_, v);
  put(methods_, uint32_t(12 + code.size()), 4);
  put(methods_, 4);  // max stack
  put(methods_, 8);  // max locals
  put(methods_, uint32_t(code.size()), 4);
  methods_.insert(methods_.end(), code.begin(), code.end());
  put(methods_, 0, 4);  // no exception table, no attributes
  methodCount_++;
}

std::vector<uint8_t> TestClass::bytes(uint16_t major) const {
  std::vector<uint8_t> out = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0};
  put(out, major);
  put(out, count_);
  out.insert(out.end(), pool_.begin(), pool_.end());
  for (uint32_t v : {access_, this_, super_, uint16_t(0), uint16_t(0), methodCount_}) put(out, v);
  out.insert(out.end(), methods_.begin(), methods_.end());
  put(out, 0);
  return out;
}

std::string ParsedClass::methodrefText(uint16_t index) const {
  auto at = [&](uint16_t i) { return i < pool.size() ? pool[i] : Entry(); };
  Entry ref = at(index), nat = at(ref.b);
  return ref.tag != 10 ? "" : at(at(ref.a).a).text + "." + at(nat.a).text + at(nat.b).text;
}

ParsedClass ParsedClass::parse(const std::vector<uint8_t>& b) {
  ParsedClass c;
  size_t at = 0;
  // Big-endian values and byte runs, throwing at the end of the bytes.
  auto n = [&](size_t size) {
    if (at + size > b.size()) throw std::out_of_range("class cut short");
    uint32_t v = 0;
    for (size_t i = 0; i < size; i++) v = v << 8 | b[at++];
    return v;
  };
  auto run = [&](size_t length) {
    if (at + length > b.size()) throw std::out_of_range("class cut short");
    at += length;
    return std::string(b.begin() + long(at - length), b.begin() + long(at));
  };
  auto text = [&](uint32_t i) { return i < c.pool.size() ? c.pool[i].text : std::string(); };
  auto skipAttributes = [&] {
    for (uint32_t a = n(2); a > 0; a--) n(2), run(n(4));
  };
  try {
    if (n(4) != 0xCAFEBABE) return c;
    n(4);
    c.pool.resize(c.poolCount = uint16_t(n(2)));
    for (size_t i = 1; i < c.poolCount; i++) {
      Entry& e = c.pool[i];
      e.tag = uint8_t(n(1));
      if (e.tag == 1) {
        e.text = run(n(2));
      } else if (e.tag == 7 || e.tag == 8) {
        e.a = uint16_t(n(2));
      } else if (e.tag >= 9 && e.tag <= 12) {
        e.a = uint16_t(n(2));
        e.b = uint16_t(n(2));
      } else if (e.tag == 3 || e.tag == 4 || e.tag == 5 || e.tag == 6) {
        run(e.tag < 5 ? 4 : 8);
        i += e.tag >= 5;
      } else {
        return c;
      }
    }
    n(6);           // access, this, super
    run(2 * n(2));  // interfaces
    for (uint32_t f = n(2); f > 0; f--) n(6), skipAttributes();
    for (uint32_t count = n(2); count > 0; count--) {
      ParsedMethod m;
      m.access = uint16_t(n(2));
      m.name = text(n(2));
      n(2);
      for (uint32_t a = n(2); a > 0; a--) {
        std::string name = text(n(2));
        uint32_t length = n(4);
        size_t end = at + length;
        if (name == "Code") {
          m.maxStack = uint16_t(n(2));
          m.maxLocals = uint16_t(n(2));
          std::string code = run(n(4));
          m.code.assign(code.begin(), code.end());
        } else if (name == "Exceptions") {
          for (uint32_t e = n(2); e > 0; e--) m.exceptions.push_back(text(c.pool.at(n(2)).a));
        }
        if (end > b.size() || at > end) return c;
        at = end;
      }
      c.methods.push_back(m);
    }
    skipAttributes();
    c.ok = at == b.size();
  } catch (const std::exception&) {
  }
  return c;
}
