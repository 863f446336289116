#include "png.h"

#include <zlib.h>

#include <cstdio>
#include <cstdint>
#include <vector>

namespace {

void putU32(std::string& out, uint32_t v) {
  out += char((v >> 24) & 0xFF);
  out += char((v >> 16) & 0xFF);
  out += char((v >> 8) & 0xFF);
  out += char(v & 0xFF);
}

// length, type, data, CRC over type + data
void putChunk(std::string& out, const char type[4], const std::string& data) {
  putU32(out, uint32_t(data.size()));
  std::string body(type, 4);
  body += data;
  out += body;
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
  putU32(out, uint32_t(crc));
}

}  // namespace

std::string encodePng(int w, int h, int channels, const unsigned char* pixels) {
  if (w <= 0 || h <= 0 || (channels != 3 && channels != 4) || !pixels) return "";
  const size_t row = size_t(w) * size_t(channels);
  // Each row gets filter type 0 (none): simple and always valid.
  std::vector<unsigned char> raw;
  raw.reserve((row + 1) * size_t(h));
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels + row * size_t(y), pixels + row * size_t(y + 1));
  }
  uLongf packedLen = compressBound(uLong(raw.size()));
  std::vector<unsigned char> packed(packedLen);
  if (compress2(packed.data(), &packedLen, raw.data(), uLong(raw.size()), 9) != Z_OK) return "";

  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  putU32(ihdr, uint32_t(w));
  putU32(ihdr, uint32_t(h));
  ihdr += char(8);                          // bit depth
  ihdr += char(channels == 4 ? 6 : 2);      // colour type: RGBA or RGB
  ihdr += char(0);                          // deflate
  ihdr += char(0);                          // adaptive filtering
  ihdr += char(0);                          // no interlace
  putChunk(out, "IHDR", ihdr);
  putChunk(out, "IDAT", std::string(reinterpret_cast<const char*>(packed.data()), packedLen));
  putChunk(out, "IEND", "");
  return out;
}

bool writePng(const std::string& path, int w, int h, int channels, const unsigned char* pixels) {
  std::string bytes = encodePng(w, h, channels, pixels);
  if (bytes.empty()) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}
