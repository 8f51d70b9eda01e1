#include "records/FileHash.h"

#include <nettle/sha2.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace records {

std::string FileSha256(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  sha256_ctx ctx;
  sha256_init(&ctx);
  std::vector<char> buf(1 << 16);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto got = in.gcount();
    if (got > 0) sha256_update(&ctx, static_cast<size_t>(got), reinterpret_cast<uint8_t*>(buf.data()));
  }
  if (in.bad()) return "";
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  std::string hex;
  char h[3];
  for (uint8_t b : digest) {
    std::snprintf(h, sizeof h, "%02x", b);
    hex += h;
  }
  return hex;
}

}  // namespace records
