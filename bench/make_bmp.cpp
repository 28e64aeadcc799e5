// Writes a photo-like test bitmap for the benchmark: smooth gradients,
// soft shapes with hard edges, and fine noise; or, with "noise", nothing but
// noise, the content whose JPEG takes the most memory and time.
//   make_bmp WIDTH HEIGHT BITS out.bmp [noise]     (BITS 24, 32 or 8)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Put(std::vector<uint8_t>& v, uint32_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && !(argc == 6 && std::string(argv[5]) == "noise")) {
    std::fprintf(stderr, "usage: make_bmp WIDTH HEIGHT BITS(24|32|8) out.bmp [noise]\n");
    return 2;
  }
  const bool only_noise = argc == 6;
  const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), bpp = std::atoi(argv[3]);
  if (w <= 0 || h <= 0 || (bpp != 24 && bpp != 32 && bpp != 8)) return 2;
  const uint32_t stride = (static_cast<uint32_t>(w) * bpp + 31) / 32 * 4;
  const uint32_t palette_bytes = bpp == 8 ? 256 * 4 : 0;
  std::vector<uint8_t> f;
  f.reserve(54 + palette_bytes + size_t{stride} * h);
  f.push_back('B');
  f.push_back('M');
  Put(f, 54 + palette_bytes + stride * h, 4);  // file size
  Put(f, 0, 4);                                // reserved
  Put(f, 54 + palette_bytes, 4);               // pixel data offset
  Put(f, 40, 4);                               // info header size
  Put(f, w, 4);
  Put(f, h, 4);  // bottom-up
  Put(f, 1, 2);  // planes
  Put(f, bpp, 2);
  Put(f, 0, 4);  // BI_RGB
  Put(f, stride * h, 4);
  Put(f, 3780, 4);  // 96 dpi
  Put(f, 3780, 4);
  Put(f, 0, 4);  // colours used: all
  Put(f, 0, 4);
  if (bpp == 8)  // 6 x 7 x 6 colour cube, the rest grey
    for (int i = 0; i < 256; ++i) {
      if (i < 252)
        Put(f, (i % 6 * 51) | (i / 6 % 7 * 42) << 8 | (i / 42 * 51) << 16, 4);
      else
        Put(f, 0x808080, 4);
    }
  uint32_t seed = 12345;
  std::vector<uint8_t> row(stride);
  for (int r = 0; r < h; ++r) {
    const int y = h - 1 - r;
    for (int x = 0; x < w; ++x) {
      const double u = double(x) / w, v = double(y) / h;
      double R = 128 + 100 * std::sin(6.3 * u + 1.7 * v),
             G = 120 + 90 * std::cos(4.1 * v - 2.3 * u), B = 110 + 80 * std::sin(3.0 * (u + v));
      const double dx = u - 0.6, dy = v - 0.4;
      if (dx * dx + dy * dy < 0.04) R = 230 - 60 * v, G = 60, B = 40 + 50 * u;  // a disc
      if ((x / (w / 8 + 1) + y / (h / 6 + 1)) % 5 == 0) G *= 0.6;               // blocks
      seed = seed * 1664525u + 1013904223u;
      const double noise = (int(seed >> 24) - 128) / 16.0;
      if (only_noise) {
        for (int c = 0; c < bpp / 8; ++c) {
          seed = seed * 1664525u + 1013904223u;
          row[x * (bpp / 8) + c] = static_cast<uint8_t>(seed >> 24);
        }
        continue;
      }
      const uint8_t cr = Clamp(R + noise), cg = Clamp(G + noise), cb = Clamp(B + noise);
      if (bpp == 8) {
        row[x] = static_cast<uint8_t>((cr + 25) / 51 + (cg + 21) / 42 * 6 + (cb + 25) / 51 * 42);
      } else {
        uint8_t* p = row.data() + x * (bpp / 8);
        p[0] = cb;
        p[1] = cg;
        p[2] = cr;
        if (bpp == 32) p[3] = 255;
      }
    }
    f.insert(f.end(), row.begin(), row.end());
  }
  std::FILE* out = std::fopen(argv[4], "wb");
  if (!out || std::fwrite(f.data(), 1, f.size(), out) != f.size() || std::fclose(out) != 0)
    return 1;
  return 0;
}
