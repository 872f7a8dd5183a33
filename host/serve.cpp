#include "serve.h"

#include <string>

namespace host {

ServeResult Serve(const ByteReader& read, const ByteWriter& write, RequestHandler& handler) {
  std::string payload;
  if (!write(EncodeFrame(handler.OriginsEvent()))) return kOutputGone;
  for (;;) {
    switch (ReadFrame(read, &payload)) {
      case FrameStatus::kEnd:
        return kServedToEnd;
      case FrameStatus::kTruncated:
        return kBrokenInput;
      case FrameStatus::kTooLong:
        write(EncodeFrame(FrameError("a request longer than 1 MiB is refused")));
        return kBrokenInput;
      case FrameStatus::kFrame:
        if (!write(EncodeFrame(handler.Answer(payload)))) return kOutputGone;
        break;
    }
  }
}

}  // namespace host
