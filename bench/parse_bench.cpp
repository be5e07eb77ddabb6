// Throughput of the core: build_document plus destroying the Document, on
// generated documents of about 10 MB (or the size given):
//   sections  ordinary keys spread over many sections, with annotations,
//             comments, variables, blocks and a few joined arrays;
//   wide      one section holding a very large number of keys;
//   deep      keys whose values are arrays nested 128 levels deep;
//   ints      arrays of a thousand integers, one per line;
//   webservice  the bundled example, parsed many times (small-file cost).
// Prints the size, best build and destroy times (processor time, steadier
// than wall time on a busy machine), MB/s of both together, and the peak
// resident memory growth of one build (`peak` mode, one shape per process).
// Usage: parse_bench [runs] [megabytes] [example-path]
//        parse_bench peak sections|wide|deep|ints [megabytes]
//        parse_bench only sections|wide|deep|ints [megabytes]
//        parse_bench file PATH   (one build of a file: MB/s and peak growth)
//        parse_bench linear sections|wide|deep|ints [runs]   (time(10 MB) / time(1 MB))
//        parse_bench small PATH [runs] (only the small-file loop, for a profiler)
//        parse_bench flood [runs] [keys]   (documents whose section names or
//             annotated paths collided under the former unkeyed hashes)
//        parse_bench write keys|array PATH   (writes a big file for `file`:
//             keys  10 M keys in sections of a thousand, about 178 MB;
//             array one array of 33 M small integers, about 97 MB)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <sys/resource.h>

#include "builder.h"
#include "../syntax/tests/former_hashes.h"

namespace {

using brindle::Document;

std::string sections_document(size_t target_bytes) {
  std::string src =
      "[vars]\n"
      "host = \"db.internal\"\n"
      "port = 5432\n"
      "\n";
  src.reserve(target_bytes + 4096);
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

std::string wide_document(size_t target_bytes) {
  std::string src = "[wide]\n";
  src.reserve(target_bytes + 32);
  for (int k = 0; src.size() < target_bytes; ++k)
    src += "k" + std::to_string(k) + " = " + std::to_string(k) + "\n";
  return src;
}

// Each value: 127 arrays around one holding a string with brackets and an
// escaped quote, and a sibling element at every level.
std::string deep_document(size_t target_bytes) {
  std::string value;
  for (int i = 0; i < 127; ++i) value += "[1, ";
  value += "[\"x]\\\"[\", 2]";
  for (int i = 0; i < 127; ++i) value += "]";
  std::string src = "[deep]\n";
  src.reserve(target_bytes + 4096);
  for (int k = 0; src.size() < target_bytes; ++k) src += "v" + std::to_string(k) + " = " + value + "\n";
  return src;
}

// Sections of four keys, each an array of a thousand integers on one line.
std::string ints_document(size_t target_bytes) {
  std::string src;
  src.reserve(target_bytes + 16384);
  uint64_t x = 42;
  for (int s = 0; src.size() < target_bytes; ++s) {
    src += "[section_" + std::to_string(s) + "]\n";
    for (int k = 0; k < 4; ++k) {
      src += "series_" + std::to_string(k) + " = [";
      for (int i = 0; i < 1000; ++i) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        src += (i ? ", " : "") + std::to_string(static_cast<int64_t>(x >> 34) - 1000000);
      }
      src += "]\n";
    }
  }
  return src;
}

// The two big files. `keys`: 10 000 sections of 1 000 `key_K = N` lines.
// `array`: one key whose array holds 33 M integers below 100, twenty to a
// line.
void write_big(const std::string& kind, const char* path) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk;
  const auto flush = [&](bool force) {
    if (!force && chunk.size() < (1u << 20)) return;
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.clear();
  };
  if (kind == "keys") {
    for (int s = 0, n = 0; s < 10000; ++s) {
      chunk.append("[section_").append(std::to_string(s)).append("]\n");
      for (int k = 0; k < 1000; ++k, ++n) {
        chunk.append("key_").append(std::to_string(k)).append(" = ").append(std::to_string(n)).append("\n");
      }
      flush(false);
    }
  } else {
    uint64_t x = 7;
    chunk += "values = [\n";
    for (int i = 0; i < 33000000; ++i) {
      x = x * 6364136223846793005u + 1442695040888963407u;
      chunk += std::to_string((x >> 33) % 100);
      chunk += i + 1 == 33000000 ? "\n" : (i % 20 == 19 ? ",\n" : ",");
      flush(false);
    }
    chunk += "]\n";
  }
  flush(true);
}

// Flood documents: `count` names that the former hashes sent to one first
// slot of an index of `count` keys (equal low bits, found by search). The
// dictionary hashed with std::hash; the annotation table with the
// multiply/xor-shift of former_hashes.h.
size_t flood_bits(size_t count) {
  size_t bits = 5;
  while ((size_t{1} << bits) < 2 * (count + 1)) ++bits;
  return bits;
}

using brindle::former::former_path_hash;

// Sections `[f<n>]`, one key each: the root dictionary's index.
std::string flood_sections(size_t count) {
  const uint64_t mask = (uint64_t{1} << flood_bits(count)) - 1;
  std::string src;
  for (size_t i = 0, found = 0; found < count; ++i) {
    const std::string name = "f" + std::to_string(i);
    if ((std::hash<std::string_view>{}(name) & mask) != 0) continue;
    src += "[" + name + "]\nv = 1\n";
    ++found;
  }
  return src;
}

// Annotated keys `s.k<n>` of one section: the annotation table's index.
std::string flood_annotations(size_t count) {
  const uint32_t mask = (uint32_t{1} << flood_bits(count)) - 1;
  std::string src = "[s]\n";
  for (size_t i = 0, found = 0; found < count; ++i) {
    const std::string key = "k" + std::to_string(i);
    if ((former_path_hash("s." + key) & mask) != 0) continue;
    src += "@min: 0\n" + key + " = 1\n";
    ++found;
  }
  return src;
}

std::string shape_document(const std::string& shape, size_t bytes) {
  if (shape == "wide") return wide_document(bytes);
  if (shape == "deep") return deep_document(bytes);
  if (shape == "ints") return ints_document(bytes);
  return sections_document(bytes);
}

double cpu_now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

long peak_rss_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void measure(const char* name, const std::string& src, int runs, int repeat = 1) {
  const brindle::EmptyEnv env;
  double best_build = 1e30;
  double best_free = 1e30;
  double best_wall = 1e30;
  size_t top = 0;
  size_t problems = 0;
  for (int r = 0; r < runs; ++r) {
    double build = 0;
    double destroy = 0;
    const auto wall_start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeat; ++i) {
      const double t0 = cpu_now();
      auto doc = std::make_unique<Document>(brindle::build_document(src, env));
      const double t1 = cpu_now();
      top = doc->config.size();
      problems = doc->diagnostics.size();
      doc.reset();
      const double t2 = cpu_now();
      build += t1 - t0;
      destroy += t2 - t1;
    }
    const auto wall_stop = std::chrono::steady_clock::now();
    best_build = std::min(best_build, build);
    best_free = std::min(best_free, destroy);
    best_wall = std::min(best_wall, std::chrono::duration<double>(wall_stop - wall_start).count());
  }
  const double mb = static_cast<double>(src.size()) * repeat / 1e6;
  const double total = best_build + best_free;
  std::printf("%-10s %7.2f MB %7zu top keys %zu diagnostics  build %.3f s  free %.3f s  "
              "=> %6.1f MB/s (cpu)  wall %.3f s\n",
              name, mb, top, problems, best_build, best_free, mb / total, best_wall);
}

// Peak resident growth of one build over the source size. Meant to run
// alone in its process (`parse_bench peak SHAPE`): the source is made with
// its final capacity, so the peak before the build is the source itself.
void peak(const char* name, const std::string& src) {
  const brindle::EmptyEnv env;
  const long before = peak_rss_kb();
  { Document doc = brindle::build_document(src, env); }
  const long after = peak_rss_kb();
  std::printf("%-10s %.2f MB  peak growth of the build %.1f MB = %.2f x source\n", name,
              static_cast<double>(src.size()) / 1e6, static_cast<double>(after - before) / 1e3,
              static_cast<double>(after - before) * 1e3 / static_cast<double>(src.size()));
}

// Builds and frees a small file many times: its fixed per-call cost.
void small_file(const char* path, int runs) {
  std::ifstream in(path, std::ios::binary);
  const std::string example((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int n = 20000;
  const brindle::EmptyEnv env;
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const double t0 = cpu_now();
    for (int i = 0; i < n; ++i) Document doc = brindle::build_document(example, env);
    best = std::min(best, cpu_now() - t0);
  }
  std::printf("%-10s %zu bytes: %.2f us per build+free\n", "example", example.size(), best / n * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "only") {  // one shape, for a profiler
    const auto bytes = static_cast<size_t>((argc > 3 ? std::atof(argv[3]) : 10.0) * 1e6);
    const std::string shape = argv[2];
    measure(shape.c_str(), shape_document(shape, bytes), 3);
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "linear") {  // time(10 MB) / time(1 MB)
    const std::string shape = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    const std::string small = shape_document(shape, 1000000);
    const std::string large = shape_document(shape, 10000000);
    const brindle::EmptyEnv env;
    // Best of `runs`; the small document is built ten times per run so that
    // both timings span about the same processor time.
    const auto best = [&](const std::string& src, int repeat) {
      double out = 1e30;
      for (int r = 0; r < runs; ++r) {
        const double t0 = cpu_now();
        for (int i = 0; i < repeat; ++i) Document doc = brindle::build_document(src, env);
        out = std::min(out, (cpu_now() - t0) / repeat);
      }
      return out;
    };
    const double t_small = best(small, 10);
    const double t_large = best(large, 1);
    std::printf("%-10s 1 MB %.4f s  10 MB %.4f s  ratio %.2f (per byte %.2f)\n", shape.c_str(), t_small,
                t_large, t_large / t_small,
                t_large / t_small * static_cast<double>(small.size()) / static_cast<double>(large.size()) * 10);
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "small") {
    small_file(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "flood") {
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const size_t count = argc > 3 ? static_cast<size_t>(std::max(16, std::atoi(argv[3]))) : 8000;
    // Each document is small: built 20 times a run for a readable time.
    measure("flood-sect", flood_sections(count), runs, 20);
    measure("flood-ann", flood_annotations(count), runs, 20);
    return 0;
  }
  if (argc > 3 && std::string(argv[1]) == "write") {
    write_big(argv[2], argv[3]);
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "file") {
    std::string src;
    {
      std::ifstream in(argv[2], std::ios::binary | std::ios::ate);
      src.resize(static_cast<size_t>(in.tellg()));
      in.seekg(0);
      in.read(src.data(), static_cast<std::streamsize>(src.size()));
    }
    const brindle::EmptyEnv env;
    const long rss_before = peak_rss_kb();
    const double t0 = cpu_now();
    auto doc = std::make_unique<Document>(brindle::build_document(src, env));
    const double t1 = cpu_now();
    const size_t top = doc->config.size();
    const size_t problems = doc->diagnostics.size();
    doc.reset();
    const double t2 = cpu_now();
    const double mb = static_cast<double>(src.size()) / 1e6;
    // The peak before the build is the source (read at its final size).
    const double growth = static_cast<double>(peak_rss_kb() - rss_before) / 1024.0;
    std::printf("%s %.1f MB %zu top keys %zu diagnostics  build %.2f s  free %.2f s  => %.1f MB/s  "
                "peak growth %.1f MB = %.2f x source\n",
                argv[2], mb, top, problems, t1 - t0, t2 - t1, mb / (t2 - t0), growth,
                growth * 1.048576 / mb);
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "peak") {
    const double mb = argc > 3 ? std::atof(argv[3]) : 10.0;
    const auto bytes = static_cast<size_t>(mb * 1e6);
    const std::string shape = argv[2];
    const std::string src = shape_document(shape, bytes);
    peak(shape.c_str(), src);
    return 0;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const double mb = argc > 2 ? std::atof(argv[2]) : 10.0;
  const auto bytes = static_cast<size_t>(mb * 1e6);
  measure("sections", sections_document(bytes), runs);
  measure("wide", wide_document(bytes), runs);
  measure("deep", deep_document(bytes), runs);
  measure("ints", ints_document(bytes), runs);
  if (argc > 3) small_file(argv[3], runs);
  return 0;
}
