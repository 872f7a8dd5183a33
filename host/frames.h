// The native messaging frame: a 32-bit length in the machine's byte order (little-endian on every Windows
// the host runs on), then that many bytes of UTF-8 JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace host {

// Requests above this are refused; the browser never sends a request of ours that long, so such a length
// means the stream is not what we think it is.
constexpr uint32_t kMaxFrame = 1u << 20;

enum class FrameStatus {
  kFrame,      // a whole frame was read
  kEnd,        // the input ended between frames: the browser closed the port
  kTruncated,  // the input ended inside a frame
  kTooLong,    // the length is above kMaxFrame; nothing of the payload was read
};

// Reads up to `size` bytes into `buffer`; answers how many, 0 only at the end of the input.
using ByteReader = std::function<size_t(char* buffer, size_t size)>;

// Reads one frame. `declared` (optional) receives the length the frame announced.
FrameStatus ReadFrame(const ByteReader& read, std::string* payload, uint32_t* declared = nullptr);

// The frame carrying `payload`.
std::string EncodeFrame(std::string_view payload);

}  // namespace host
