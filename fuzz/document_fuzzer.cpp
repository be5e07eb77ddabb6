// The whole document: build, validate, write, build again. Every diagnostic
// span lies inside its source; a document that builds without error writes
// text that builds without error to the same document (its annotations of
// replaced entries aside, which nothing reads), and writing that gives the
// same text again. The one refusal allowed is a string holding a quote that
// reads back only through a variable holding `"`, in a document without
// one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "builder.h"
#include "fuzz_support.h"
#include "serializer.h"
#include "text.h"
#include "validator.h"

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const fuzz::Env env;
  const Document doc = build_document(source, env);
  fuzz::check_spans(doc.diagnostics, size, "build: diagnostic span outside the source");
  fuzz::check_spans(validate_document(doc), size, "validate: finding span outside the source");
  // The module only ever hands over UTF-8 text; a document with an error
  // is not written by it.
  if (fuzz::has_error(doc.diagnostics) || !is_valid_utf8(source)) return 0;

  const SerializeResult written = serialize_checked(doc);
  if (const auto* failure = std::get_if<SerializeFailure>(&written)) {
    if (failure->kind != SerializeFailure::Kind::NeedsQuoteVariable) fuzz::fail("refused to write", failure->message);
    return 0;
  }
  const std::string& text = std::get<std::string>(written);
  const Document back = build_document(text, env);
  if (fuzz::has_error(back.diagnostics)) {
    fuzz::fail("written text does not read back", back.diagnostics.front().message + "\n--- text:\n" + text);
  }
  if (fuzz::shape(back) != fuzz::shape(doc)) {
    fuzz::fail("written text reads back as another document",
               "--- text:\n" + text + "--- before:\n" + fuzz::describe(doc) + "--- after:\n" + fuzz::describe(back));
  }
  if (serialize_document(back) != text) fuzz::fail("writing again changes the text", text);
  return 0;
}
