// A check the array-form tests share: a built document and its heap copy
// (which holds every array in the plain form) agree in value, in what they
// write, in what validation finds, and in what the written text reads back
// as. Returns how many findings validation gave, so that a table can show
// its rules did run.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "builder.h"
#include "display.h"
#include "model.h"
#include "serializer.h"
#include "test_support.h"
#include "validator.h"

namespace brindle {

inline size_t expect_copy_agrees(const Document& doc, const std::string& text) {
  const Document copy = doc;
  EXPECT_EQ(doc.diagnostics.size(), copy.diagnostics.size()) << text;
  EXPECT_EQ(doc.config, copy.config) << text;
  EXPECT_EQ(debug_text(Value::dict(doc.config)), debug_text(Value::dict(copy.config))) << text;
  EXPECT_EQ(serialize_document(doc), serialize_document(copy)) << text;
  const std::vector<Diagnostic> got = validate_document(doc);
  const std::vector<Diagnostic> want = validate_document(copy);
  EXPECT_EQ(got.size(), want.size()) << text;
  for (size_t k = 0; k < got.size() && k < want.size(); ++k) {
    EXPECT_EQ(got[k].message, want[k].message) << text;
    EXPECT_EQ(got[k].span, want[k].span) << text;
  }
  const Document again = build_document(serialize_document(doc), EmptyEnv{});
  EXPECT_EQ(again.config, doc.config) << text;
  EXPECT_EQ(debug_text(Value::dict(again.config)), debug_text(Value::dict(doc.config))) << text;
  return got.size();
}

}  // namespace brindle
