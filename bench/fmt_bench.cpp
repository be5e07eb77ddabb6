// fmt against parse on the same ~10 MB document: the best of a few runs of
// build_document, SyntaxTree::build, build_diagnostics (what fmt runs to find
// key lines that do not build) and format_source, measured side by side in
// one process, and the ratio of formatting to parsing (the goal is at most 2). The document mixes sections, annotations, comments, variables,
// blocks and joined arrays, written untidily so the formatter has work.
// Usage: fmt_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

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

struct Timing {
  double wall = 1e300;
  double cpu = 1e300;  // processor time: steadier than wall time on a busy machine
};

template <class F>
Timing best_of(int runs, F body) {
  Timing best;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    body();
    const std::clock_t c1 = std::clock();
    const auto t1 = std::chrono::steady_clock::now();
    best.wall = std::min(best.wall, std::chrono::duration<double>(t1 - t0).count());
    best.cpu = std::min(best.cpu, static_cast<double>(c1 - c0) / CLOCKS_PER_SEC);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string src = document(10u << 20);
  const brindle::EmptyEnv env;
  size_t sink = 0;
  const Timing parse = best_of(runs, [&] { sink += brindle::build_document(src, env).config.size(); });
  const Timing tree = best_of(runs, [&] { sink += brindle::SyntaxTree::build(src).token_count(); });
  const Timing diag = best_of(runs, [&] { sink += brindle::build_diagnostics(src, env).size() + 1; });
  const Timing fmt = best_of(runs, [&] { sink += brindle::format_source(src).size(); });
  const double mb = static_cast<double>(src.size()) / 1e6;
  std::printf("document %.1f MB, best of %d runs (wall / processor time)\n", mb, runs);
  for (const auto& [name, t] : {std::pair{"parse", parse}, std::pair{"tree", tree},
                                std::pair{"diag", diag}, std::pair{"fmt", fmt}}) {
    std::printf("%-6s %8.1f ms / %8.1f ms  %7.1f MB/s\n", name, t.wall * 1e3, t.cpu * 1e3, mb / t.cpu);
  }
  std::printf("fmt / parse = %.2f wall, %.2f processor (goal: at most 2)\n", fmt.wall / parse.wall,
              fmt.cpu / parse.cpu);
  return sink == 0 ? 1 : 0;
}
