// brindle._native._syntax_view(source): the core's lossless syntax tree as
// plain tuples, one per logical line, for the editor support in the package
// (the language server's index, the Pygments lexer). Nothing is evaluated and
// nothing can fail but memory: any text has a tree.
//
// Every offset is an index into the str (code points), not a byte offset, so
// that callers can slice the text they passed (lone surrogates included). A
// line is
//
//   (kind, valid, first, last, start, end, names, value, tokens, refs)
//
// kind    "section", "vars", "key", "block-open", "block-close",
//         "annotation", "comment", "blank" or "ignored", as the parser
//         classifies the line (a header inside a block is "ignored")
// valid   False for a header or an annotation the parser rejects, and for
//         a block opener whose block never closes
// first, last   its first and last physical line, from 0 (a value whose
//         brackets stay open takes the lines that close them)
// start, end    from the start of its first physical line to the end of its
//         last one, the line terminator excluded
// names   ((name, start, end), ...): a header's segments as parsed
//         (unquoted, spans as written); the key of a key line or block
//         opener (unquoted), then the keys of the inline dict entries in its
//         value, in order; an annotation's name (without '@'; the span from
//         '@'); empty otherwise
// value   (start, end) of a key line's value (comments and a block entry's
//         trailing comma excluded) or of an annotation's argument; else None
// tokens  ((kind, start, end), ...): the tree's tokens in order, blanks and
//         line terminators left out; kind is the token kind's name
//         ("Key", "String", "Variable", "DictOpen", "Comment", ...)
// refs    ((kind, name, start, end), ...): the `$` operands of the value,
//         kind "var", "builtin" or "env", name after the '$' (after "$ENV."
//         for "env")
#pragma once

#include "py_ref.h"

namespace brindle::py {

PyObject* module_syntax_view(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace brindle::py
