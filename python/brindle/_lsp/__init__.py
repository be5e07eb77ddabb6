"""The language server behind `brindle lsp` (needs the `lsp` extra, pygls).

Modules: `server` (the protocol side), `index` (where things are in a
document), `findings` (what is wrong with it), `describe` (hover and
completion texts), `positions` (offsets and client positions).
"""
