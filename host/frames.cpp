#include "frames.h"

#include <cstring>

namespace host {
namespace {

// Fills exactly `size` bytes unless the input ends first; answers how many were read.
size_t ReadExactly(const ByteReader& read, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    size_t n = read(buffer + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

}  // namespace

FrameStatus ReadFrame(const ByteReader& read, std::string* payload, uint32_t* declared) {
  payload->clear();
  unsigned char header[4];
  const size_t got = ReadExactly(read, reinterpret_cast<char*>(header), sizeof header);
  if (got == 0) return FrameStatus::kEnd;
  if (got < sizeof header) return FrameStatus::kTruncated;
  const uint32_t length = header[0] | (header[1] << 8) | (header[2] << 16) | (uint32_t{header[3]} << 24);
  if (declared) *declared = length;
  if (length > kMaxFrame) return FrameStatus::kTooLong;
  payload->resize(length);
  if (ReadExactly(read, payload->data(), length) < length) {
    payload->clear();
    return FrameStatus::kTruncated;
  }
  return FrameStatus::kFrame;
}

std::string EncodeFrame(std::string_view payload) {
  const uint32_t length = static_cast<uint32_t>(payload.size());
  std::string frame(4, '\0');
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  frame.append(payload);
  return frame;
}

}  // namespace host
