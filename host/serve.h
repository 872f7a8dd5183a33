// The host's conversation with the browser: read a frame, answer it, until the input closes.
#pragma once

#include <functional>
#include <string_view>

#include "frames.h"
#include "requests.h"

namespace host {

// Writes all of `bytes`; false when the output is gone.
using ByteWriter = std::function<bool(std::string_view bytes)>;

// Exit codes of the host.
enum ServeResult {
  kServedToEnd = 0,   // the input closed between frames
  kBrokenInput = 1,   // the input ended inside a frame, or announced a frame too long to take
  kOutputGone = 3,    // an answer could not be written
};

// Sends the list of origins, then answers frames, one answer per request frame: in order, except for an
// InitKey that asks the user, whose answer comes when the user answered (the others meanwhile). The
// extension ties an answer it cannot read an id from to its oldest unanswered request that is not
// asking. A frame too long is answered with an error (id null) and ends the conversation: after it,
// nothing says where the next frame would begin. When the input ends, every open question is withdrawn.
ServeResult Serve(const ByteReader& read, const ByteWriter& write, RequestHandler& handler);

}  // namespace host
