// fmt against parse on the same ~10 MB document: the best of a few runs of
// build_document, SyntaxTree::build and format_source, measured side by side
// in one process, and the ratio of formatting to parsing (the goal is at
// most 2). The document mixes sections, annotations, comments, variables,
// blocks and joined arrays, written untidily so the formatter has work.
// Usage: fmt_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "builder.h"
#include "formatter.h"
#include "syntax_tree.h"

namespace {

std::string document(size_t target_bytes) {
  std::string src = "[vars]\nhost = \"db.internal\"\nport=5432\n\n";
  for (int s = 0; src.size() < target_bytes; ++s) {
    src += "# section " + std::to_string(s) + "\n\n\n";
    src += "@description(generated section)\n";
    src += "[service_" + std::to_string(s) + ".settings]\n";
    for (int k = 0; k < 40; ++k) {
      const std::string key = "key_" + std::to_string(k);
      switch (k % 8) {
        case 0: src += key + " = " + std::to_string(s * 100 + k) + "\n"; break;
        case 1: src += "@min :0\n@max: 100\n" + key + "=42\n"; break;
        case 2: src += "  " + key + " = \"a plain string value\"  # trailing comment\n"; break;
        case 3: src += key + "   = 3.25\n"; break;
        case 4: src += key + " = true\n"; break;
        case 5: src += key + " = [\"a\", \"b\", \"c\", 1, 2, 3]\n"; break;
        case 6: src += key + " = $host + \":\" + $port\n"; break;
        default: src += key + " = [1,\n  2,\n      3]\n"; break;
      }
    }
    src += "limits = #{\n  low = 1,\n  high = #{ a = 1, b = [2, 3] }#,\n}#\n\n";
  }
  return src;
}

template <class F>
double best_seconds(int runs, F body) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    body();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string src = document(10u << 20);
  const brindle::EmptyEnv env;
  size_t sink = 0;
  const double parse = best_seconds(runs, [&] { sink += brindle::build_document(src, env).config.size(); });
  const double tree = best_seconds(runs, [&] { sink += brindle::SyntaxTree::build(src).token_count(); });
  const double fmt = best_seconds(runs, [&] { sink += brindle::format_source(src).size(); });
  const double mb = static_cast<double>(src.size()) / 1e6;
  std::printf("document %.1f MB, best of %d runs\n", mb, runs);
  std::printf("parse  %8.1f ms  %7.1f MB/s\n", parse * 1e3, mb / parse);
  std::printf("tree   %8.1f ms  %7.1f MB/s\n", tree * 1e3, mb / tree);
  std::printf("fmt    %8.1f ms  %7.1f MB/s\n", fmt * 1e3, mb / fmt);
  std::printf("fmt / parse = %.2f (goal: at most 2)\n", fmt / parse);
  return sink == 0 ? 1 : 0;
}
