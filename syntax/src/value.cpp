#include <utility>

#include "model.h"

namespace brindle {

Value Value::string(std::string s) {
  Value v;
  v.s_ = new std::string(std::move(s));
  v.tag_ = Tag::String;
  return v;
}

Value Value::array(Array a) {
  Value v;
  v.a_ = new Array(std::move(a));
  v.tag_ = Tag::Array;
  return v;
}

Value Value::dict(Dict d) {
  Value v;
  v.m_ = new Dict(std::move(d));
  v.tag_ = Tag::Dict;
  return v;
}

Value::Value(const Value& other) : tag_(Tag::Null), i_(0) {
  switch (other.tag_) {
    case Tag::String: s_ = new std::string(*other.s_); break;
    case Tag::Array: a_ = new Array(*other.a_); break;
    case Tag::Dict: m_ = new Dict(*other.m_); break;
    default: i_ = other.i_; break;
  }
  tag_ = other.tag_;
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void Value::release() noexcept {
  // Arrays and dicts nest only as deep as the parser allows, which bounds
  // this recursion.
  switch (tag_) {
    case Tag::String: delete s_; break;
    case Tag::Array: delete a_; break;
    case Tag::Dict: delete m_; break;
    default: break;
  }
  tag_ = Tag::Null;
  i_ = 0;
}

bool operator==(const Value& a, const Value& b) {
  if (a.tag_ != b.tag_) return false;
  switch (a.tag_) {
    case Tag::String: return *a.s_ == *b.s_;
    case Tag::Integer: return a.i_ == b.i_;
    case Tag::Float: return a.d_ == b.d_;
    case Tag::Bool: return a.b_ == b.b_;
    case Tag::Null: return true;
    case Tag::Array: return *a.a_ == *b.a_;
    case Tag::Dict: return *a.m_ == *b.m_;
  }
  return false;
}

}  // namespace brindle
