// SipHash-1-3 checked against CPython's own str/bytes hash, which is the
// same function (sys.hash_info.algorithm == 'siphash13').
//
// The tables were generated with, for the all-zero key:
//   PYTHONHASHSEED=0 python3 -c 'for n in [*range(1, 65), 100, 255, 1000, 4099]:
//       print(n, hash(bytes((i * 7 + 3) & 0xff for i in range(n))) & (2**64 - 1))'
// and the same with PYTHONHASHSEED=1, whose key CPython derives from the
// seed with its LCG (x = x * 214013 + 2531011, byte = (x >> 16) & 0xff,
// sixteen bytes read as two little-endian words). CPython hashes b"" to 0
// without SipHash, so length 0 has no row; no row came out as -2, which
// would be ambiguous (CPython turns -1 into -2).
#include "key_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

struct Vector {
  size_t size;
  uint64_t hash;
};

std::string sample(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>((i * 7 + 3) & 0xff));
  return s;
}

constexpr Vector kZeroKey[] = {
    {1, 0x486b06067755d7c9ull},
    {2, 0x068a8ca3bf74c2ebull},
    {3, 0x711b47561b9b33e2ull},
    {4, 0x22090e1d03fbbf1cull},
    {5, 0x861366b243b6f28eull},
    {6, 0x23de6a4ba3d98ca0ull},
    {7, 0x8a715eaaf55549aaull},
    {8, 0x36c186f0aa4cdbebull},
    {9, 0x5176191e3d24cbffull},
    {10, 0x9d0f60ba863a46f0ull},
    {11, 0x8f76a06c3bd67985ull},
    {12, 0x66d81798f82a3aaeull},
    {13, 0xab5bed4f32f63e5aull},
    {14, 0x8b33e22b08403ab6ull},
    {15, 0x19ed3f1b38f7e4e2ull},
    {16, 0xd1c94d62751d7b7bull},
    {17, 0xbe5161a723042d60ull},
    {18, 0x32d838b36c37d02aull},
    {19, 0x0c1fd033306dca75ull},
    {20, 0xa09e9c6782ba3e86ull},
    {21, 0x631ee30f66be4d16ull},
    {22, 0x9e5223f91942f251ull},
    {23, 0x08035aca6317064aull},
    {24, 0x44632b249e98e6e9ull},
    {25, 0x9263d5fbfb4b782aull},
    {26, 0x4c7c4da9f8d0fa60ull},
    {27, 0x692b985982231b19ull},
    {28, 0x6f29720705441233ull},
    {29, 0x22d89f5efd2801c2ull},
    {30, 0x9f1c511753a38d67ull},
    {31, 0xf8d992129081807bull},
    {32, 0x1d94f92ad87f271dull},
    {33, 0x71e3dcba331c4dd7ull},
    {34, 0x2dd46ee6c7c1c708ull},
    {35, 0x36a2aadaaefcca22ull},
    {36, 0x292fbb51137c9bb1ull},
    {37, 0x4fbe2d73186030bfull},
    {38, 0x196cdb3127dabadaull},
    {39, 0xdf5fca05755ee156ull},
    {40, 0x0097ec026b015ffbull},
    {41, 0xef93db857e731930ull},
    {42, 0xaa66f462a031c2b0ull},
    {43, 0xf5cb6159d86f3754ull},
    {44, 0x23d57b145a50e899ull},
    {45, 0x6358b798bd684b60ull},
    {46, 0xf8a5fac455706674ull},
    {47, 0xe5e960938c09add5ull},
    {48, 0x2f105d4164f9f7b0ull},
    {49, 0xc4f0ce91dc04ae00ull},
    {50, 0xa95275cd624346b5ull},
    {51, 0xdd750ea2fed682e2ull},
    {52, 0x17de888d5fa24e56ull},
    {53, 0x7b6120f8d2df1777ull},
    {54, 0x281a04eb69f198c4ull},
    {55, 0xab525e31a2c11086ull},
    {56, 0x2ad9146348f0f63bull},
    {57, 0x18036e71128114f7ull},
    {58, 0x32e6ff03889d9e13ull},
    {59, 0x4af8c5da3281c1aaull},
    {60, 0xb71c1af0a6569691ull},
    {61, 0x7f29e5b7aed1d548ull},
    {62, 0x30e5921e619bd6daull},
    {63, 0x42ed5c087e0bfe5dull},
    {64, 0x65134a36595a21fbull},
    {100, 0xde2a45bb2a709f2aull},
    {255, 0x621951539b5066e6ull},
    {1000, 0x92a845f3e25c1469ull},
    {4099, 0x44832b2ab98aa9b7ull},
};

constexpr uint64_t kSeed1K0 = 0xaed66ce184be2329ull;
constexpr uint64_t kSeed1K1 = 0xebe9bbf1f1499052ull;

constexpr Vector kSeed1Key[] = {
    {1, 0x9243a0bed771da38ull},
    {2, 0x64ef4d1ead827df1ull},
    {3, 0x412ee9d906bcaec1ull},
    {4, 0x51259821816e0b45ull},
    {5, 0x7fb68807d6f5b8c3ull},
    {6, 0x735c7cac99ef68d7ull},
    {7, 0xa43f46106d9ee69eull},
    {8, 0x6c51eb30d2c47d84ull},
    {9, 0x929e7bc2d914a9f1ull},
    {10, 0x37935bef93057757ull},
    {11, 0x81c83ee01ca60133ull},
    {12, 0x2f7b08f3e06feb98ull},
    {13, 0xf127d3ab1cafe520ull},
    {14, 0x6e5abca824cb9e68ull},
    {15, 0xedd0edafe288ba9bull},
    {16, 0xdc0e2d5ecce30f8dull},
    {17, 0x4f5b77d5888369b7ull},
    {18, 0xa250a4c3f03f6641ull},
    {19, 0xb31e461565f1caa0ull},
    {20, 0xdc29b82c54d0107eull},
    {21, 0xdae8def466619040ull},
    {22, 0x432661a3a5eb4bdaull},
    {23, 0x3cf4367038cbf1dfull},
    {24, 0x2b373dda64f54c7full},
    {25, 0xa3f2a152ea6b680full},
    {26, 0x3bb980fe5fa20815ull},
    {27, 0x3d63c2ace117073bull},
    {28, 0x8a956e1e464ded1aull},
    {29, 0xd32c8eea578f062full},
    {30, 0xda464903b87fa8f2ull},
    {31, 0x6def6206a11a38a0ull},
    {32, 0x82e92177f0fdaff8ull},
    {33, 0xc1776779669e123aull},
    {34, 0x4eda4ee628dbb5fbull},
    {35, 0x37333e33611ce836ull},
    {36, 0x920b346d3ef7ca9bull},
    {37, 0xc3cabff9513cd3dcull},
    {38, 0xa82d9aa340802ae2ull},
    {39, 0x59b0d6e85ca26398ull},
    {40, 0xb4cf5af048766d52ull},
    {41, 0x158e816bb11ff113ull},
    {42, 0x7fd53a2ddf4b46baull},
    {43, 0x54bd6b6e50c6edc6ull},
    {44, 0x88b831cd7b91a6eeull},
    {45, 0x0cc1d92f0794f98aull},
    {46, 0xe65758e766f3a260ull},
    {47, 0x642f011a160f41a1ull},
    {48, 0x34ff9a72a7c076a3ull},
    {49, 0xae8519f5e3052a4eull},
    {50, 0x29d18ca83a8c61f3ull},
    {51, 0x8269e604a120e87aull},
    {52, 0x8aea13047aec72a3ull},
    {53, 0x5b9be9855ef2a87dull},
    {54, 0x8568e6f7392035b8ull},
    {55, 0xbb4d4a4f8af6a8f4ull},
    {56, 0xcd7458d50f7593bfull},
    {57, 0xd3480c18e55a8424ull},
    {58, 0x9718356682aa3972ull},
    {59, 0xaed67d68a271b6c0ull},
    {60, 0x20206fb7cd00f441ull},
    {61, 0x95796d679048e2c2ull},
    {62, 0x6c5b960d8d117c56ull},
    {63, 0x825679fab67db983ull},
    {64, 0x2741e4bf15df85b6ull},
    {100, 0xea3f9d9bf502529dull},
    {255, 0xfd722f2e27fe740aull},
    {1000, 0x087c667169d0e4e0ull},
    {4099, 0xad84921490186db7ull},
};

TEST(KeyHash, MatchesCPythonWithTheZeroKey) {
  for (const Vector& v : kZeroKey) {
    EXPECT_EQ(siphash13(0, 0, sample(v.size)), v.hash) << "length " << v.size;
  }
}

TEST(KeyHash, MatchesCPythonWithASeededKey) {
  for (const Vector& v : kSeed1Key) {
    EXPECT_EQ(siphash13(kSeed1K0, kSeed1K1, sample(v.size)), v.hash) << "length " << v.size;
  }
}

TEST(KeyHash, ReadsOnlyTheViewedBytes) {
  // A view into a longer buffer hashes as its own bytes: the tail past the
  // view (and past a partial last word) never leaks in.
  const std::string whole = sample(80);
  for (const Vector& v : kZeroKey) {
    if (v.size > 70) continue;
    EXPECT_EQ(siphash13(0, 0, std::string_view(whole).substr(0, v.size)), v.hash) << "length " << v.size;
  }
}

TEST(KeyHash, KeyedHashUsesTheProcessSecret) {
  const HashSecret& s = hash_secret();
  EXPECT_FALSE(s.k0 == 0 && s.k1 == 0);
  for (const Vector& v : kZeroKey) {
    const std::string text = sample(v.size);
    EXPECT_EQ(keyed_hash(text), siphash13(s.k0, s.k1, text));
    // Transparent lookups hash a view as the string it finds.
    EXPECT_EQ(KeyHash{}(text), KeyHash{}(std::string_view(text)));
  }
}

}  // namespace
}  // namespace brindle
