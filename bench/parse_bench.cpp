// Throughput of build_document on two generated documents:
//   sections  about 10 MB of ordinary keys spread over many sections, with
//             annotations, comments, variables and a few joined arrays;
//   wide      one section holding a million keys.
// Prints the size, the best and median wall time of a few runs, MB/s, and
// the best processor time (steadier than wall time on a busy machine).
// Usage: parse_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "builder.h"

namespace {

using brindle::Document;

std::string sections_document(size_t target_bytes) {
  std::string src =
      "[vars]\n"
      "host = \"db.internal\"\n"
      "port = 5432\n"
      "\n";
  for (int s = 0; src.size() < target_bytes; ++s) {
    src += "# section " + std::to_string(s) + "\n";
    src += "@description(generated section)\n";
    src += "[service_" + std::to_string(s) + ".settings]\n";
    for (int k = 0; k < 40; ++k) {
      const std::string key = "key_" + std::to_string(k);
      switch (k % 8) {
        case 0: src += key + " = " + std::to_string(s * 100 + k) + "\n"; break;
        case 1: src += "@min: 0\n@max: 100\n" + key + " = 42\n"; break;
        case 2: src += key + " = \"a plain string value\"  # trailing comment\n"; break;
        case 3: src += key + " = 3.25\n"; break;
        case 4: src += key + " = true\n"; break;
        case 5: src += key + " = [\"a\", \"b\", \"c\", 1, 2, 3]\n"; break;
        case 6: src += key + " = $host + \":\" + $port\n"; break;
        default: src += key + " = [1,\n    2,\n    3]\n"; break;
      }
    }
    src += "limits = #{\n  low = 1,\n  high = 10,\n}#\n\n";
  }
  return src;
}

std::string wide_document(int keys) {
  std::string src = "[wide]\n";
  src.reserve(static_cast<size_t>(keys) * 20);
  for (int k = 0; k < keys; ++k) src += "k" + std::to_string(k) + " = " + std::to_string(k) + "\n";
  return src;
}

void measure(const char* name, const std::string& src, int runs) {
  const brindle::EmptyEnv env;
  std::vector<double> seconds;
  std::vector<double> cpu;
  size_t keys = 0;
  size_t problems = 0;
  for (int r = 0; r < runs; ++r) {
    const std::clock_t cpu_start = std::clock();
    const auto start = std::chrono::steady_clock::now();
    Document doc = brindle::build_document(src, env);
    const auto stop = std::chrono::steady_clock::now();
    cpu.push_back(static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
    seconds.push_back(std::chrono::duration<double>(stop - start).count());
    keys = doc.key_spans.size();
    problems = doc.diagnostics.size();
  }
  std::sort(seconds.begin(), seconds.end());
  std::sort(cpu.begin(), cpu.end());
  const double mb = static_cast<double>(src.size()) / 1e6;
  const double best = seconds.front();
  const double median = seconds[seconds.size() / 2];
  std::printf(
      "%-9s %6.2f MB %8zu paths %zu diagnostics  best %.3f s (%.1f MB/s)  median %.3f s  cpu %.3f s\n",
      name, mb, keys, problems, best, mb / best, median, cpu.front());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  measure("sections", sections_document(10 * 1000 * 1000), runs);
  measure("wide", wide_document(1000 * 1000), runs);
  return 0;
}
