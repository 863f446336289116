// Minimal PNG writer: 8-bit RGB or RGBA, one IDAT chunk, zlib-compressed.
#pragma once
#include <string>

// PNG file bytes for w x h pixels, `channels` 3 (RGB) or 4 (RGBA), rows
// packed without padding. Empty on bad arguments or compression failure.
std::string encodePng(int w, int h, int channels, const unsigned char* pixels);
// Writes encodePng's bytes to path; false (and nothing left half-written
// silently) when encoding or writing fails.
bool writePng(const std::string& path, int w, int h, int channels, const unsigned char* pixels);
