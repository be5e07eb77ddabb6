// The canonical layout of a source text, computed from its syntax tree.
//
// One space around '=' and before a trailing comment; annotations in their
// canonical form (`@name`, `@name(text)`, `@name: arg`, lists as
// `[a, b]`) directly above what they annotate; sections separated by one
// blank line, with the comments and annotations written right above a header
// kept with it; at most one blank line anywhere else, none at the start or
// the end; entries of blocks indented by four spaces, lines of a joined value
// by four per open bracket; trailing blanks removed; a final line end.
// Ignored lines and lines that do not build (a bad header or annotation, a
// key whose value fails without an environment) are kept exactly as written, but for a carriage return at their end, which
// would merge with the line end. Line ends follow the file's first one (CRLF stays
// CRLF); a byte-order mark stays. Value texts are never rewritten, so the
// formatted text means the same as the input.
//
// Formatting never fails and is idempotent: format_source(format_source(x))
// equals format_source(x). A text of kMaxTreeSource bytes or more has no
// full syntax tree and is returned as it is.
#pragma once

#include <string>
#include <string_view>

namespace brindle {

std::string format_source(std::string_view source);

}  // namespace brindle
