#include "serve.h"

#include <windows.h>

#include <string>

#include "handles.h"

namespace host {

ServeResult Serve(const ByteReader& read, const ByteWriter& write, RequestHandler& handler) {
  // Answers come from this thread and from a question's: one frame at a time, whole.
  vd::CriticalSection lock;
  volatile LONG outputGone = 0;
  const RequestHandler::Reply reply = [&](const std::string& text) {
    vd::CsLock held(lock);
    if (!outputGone && !write(EncodeFrame(text))) ::InterlockedExchange(&outputGone, 1);
  };
  reply(handler.OriginsEvent());
  std::string payload;
  ServeResult result = kServedToEnd;
  while (!outputGone) {
    const FrameStatus status = ReadFrame(read, &payload);
    if (status == FrameStatus::kEnd) break;
    if (status == FrameStatus::kTruncated) {
      result = kBrokenInput;
      break;
    }
    if (status == FrameStatus::kTooLong) {
      reply(FrameError("a request longer than 1 MiB is refused"));
      result = kBrokenInput;
      break;
    }
    handler.Dispatch(payload, reply);
  }
  // Nobody is left to answer: a question still open must not erase for a page that is gone.
  handler.WithdrawAll();
  return outputGone ? kOutputGone : result;
}

}  // namespace host
