// Cost of checking next to parsing, on a generated 10 MB document with
// annotations, variables, blocks, joined arrays and (in the second document)
// a finding every few hundred lines. Parse and check runs alternate, so both
// see the same machine load; the ratio of the best processor times is the
// figure to watch (the goal: checking costs at most 1.5x parsing).
// Usage: check_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "builder.h"
#include "check.h"

namespace {

std::string document(size_t target_bytes, bool with_problems) {
  std::string src =
      "[vars]\n"
      "host = \"db.internal\"\n"
      "port = 5432\n"
      "\n";
  for (int s = 0; src.size() < target_bytes; ++s) {
    const std::string n = std::to_string(s);
    src += "# section " + n + "\n";
    src += "@internal\n";
    src += "[service_" + n + ".settings]\n";
    for (int k = 0; k < 40; ++k) {
      const std::string key = "key_" + std::to_string(k);
      switch (k % 8) {
        case 0: src += key + " = " + std::to_string(s * 100 + k) + "\n"; break;
        case 1: src += "@min: 0\n@max: 100\n" + key + " = 42\n"; break;
        case 2: src += key + " = \"a plain string value\"  # trailing comment\n"; break;
        case 3: src += "@type: float\n" + key + " = 3.25\n"; break;
        case 4: src += key + " = true\n"; break;
        case 5: src += key + " = [\"a\", \"b\", \"c\", 1, 2, 3]\n"; break;
        case 6: src += key + " = $host + \":\" + $port\n"; break;
        default: src += key + " = [1,\n    2,\n    3]\n"; break;
      }
    }
    src += "limits = #{\n  @min: 1\n  low = 1,\n  high = 10,\n}#\n";
    if (with_problems && s % 10 == 0) src += "level: \"debug\"\nk = [1, , 2]\n@min: 5\nlow = 1\n";
    src += "\n";
  }
  return src;
}

double cpu_seconds(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

void measure(const char* name, const std::string& src, int runs) {
  const brindle::EmptyEnv env;
  std::vector<double> parse_cpu, check_cpu;
  size_t findings = 0;
  for (int r = 0; r < runs; ++r) {
    std::clock_t start = std::clock();
    // Both sides include freeing what they built.
    { const brindle::Document doc = brindle::build_document(src, env); }
    parse_cpu.push_back(cpu_seconds(start));
    start = std::clock();
    findings = brindle::check_source(src, env, brindle::CheckOptions{}).size();
    check_cpu.push_back(cpu_seconds(start));
  }
  std::sort(parse_cpu.begin(), parse_cpu.end());
  std::sort(check_cpu.begin(), check_cpu.end());
  std::printf("%-9s %6.2f MB %6zu findings  parse %.3f s  check %.3f s  ratio %.2f\n", name,
              static_cast<double>(src.size()) / 1e6, findings, parse_cpu.front(),
              check_cpu.front(), check_cpu.front() / parse_cpu.front());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  measure("clean", document(10 * 1000 * 1000, false), runs);
  measure("findings", document(10 * 1000 * 1000, true), runs);
  return 0;
}
