// Frames as they arrive from a browser, or from something that is not one: whole, split into pieces,
// truncated, too long; and the conversation loop's answers and exit codes for each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>

#include "frames.h"
#include "serve.h"

namespace {

using host::FrameStatus;

std::string Le32(uint32_t n) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return s;
}

// Serves `input` at most `chunk` bytes per read, as a pipe may.
struct StringInput {
  std::string data;
  size_t chunk = SIZE_MAX;
  size_t at = 0;
  size_t reads = 0;
  host::ByteReader Reader() {
    return [this](char* buffer, size_t size) {
      ++reads;
      size_t n = std::min({size, chunk, data.size() - at});
      std::memcpy(buffer, data.data() + at, n);
      at += n;
      return n;
    };
  }
};

TEST(FrameTest, ReadsWhatTheLengthAnnouncesAndTellsHowInputEnded) {
  const std::string big(host::kMaxFrame, 'x');
  const struct {
    const char* what;
    std::string input;
    size_t chunk;
    std::vector<FrameStatus> statuses;
    std::vector<std::string> payloads;  // of the kFrame statuses, in order
  } rows[] = {
      {"nothing", "", SIZE_MAX, {FrameStatus::kEnd}, {}},
      {"one frame", Le32(2) + "{}", SIZE_MAX, {FrameStatus::kFrame, FrameStatus::kEnd}, {"{}"}},
      {"byte by byte", Le32(3) + "abc" + Le32(1) + "d", 1,
       {FrameStatus::kFrame, FrameStatus::kFrame, FrameStatus::kEnd}, {"abc", "d"}},
      {"empty frame", Le32(0), SIZE_MAX, {FrameStatus::kFrame, FrameStatus::kEnd}, {""}},
      {"half a length", std::string("\x05\x00", 2), SIZE_MAX, {FrameStatus::kTruncated}, {}},
      {"short payload", Le32(5) + "abc", SIZE_MAX, {FrameStatus::kTruncated}, {}},
      {"frame then half a length", Le32(1) + "a" + "\x01", SIZE_MAX,
       {FrameStatus::kFrame, FrameStatus::kTruncated}, {"a"}},
      {"largest frame", Le32(host::kMaxFrame) + big, SIZE_MAX, {FrameStatus::kFrame, FrameStatus::kEnd}, {big}},
      {"one byte too long", Le32(host::kMaxFrame + 1) + big + "x", SIZE_MAX, {FrameStatus::kTooLong}, {}},
      {"length of all ones", Le32(0xFFFFFFFFu), SIZE_MAX, {FrameStatus::kTooLong}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    StringInput in{row.input, row.chunk};
    host::ByteReader read = in.Reader();
    std::vector<std::string> payloads;
    for (FrameStatus want : row.statuses) {
      std::string payload = "left over";
      ASSERT_EQ(host::ReadFrame(read, &payload), want);
      if (want == FrameStatus::kFrame) payloads.push_back(payload);
      else EXPECT_EQ(payload, "");
    }
    EXPECT_EQ(payloads, row.payloads);
  }
}

TEST(FrameTest, TooLongFrameReadsNoPayload) {
  StringInput in{Le32(0x7FFFFFFFu) + std::string(64, 'x')};
  std::string payload;
  uint32_t declared = 0;
  EXPECT_EQ(host::ReadFrame(in.Reader(), &payload, &declared), FrameStatus::kTooLong);
  EXPECT_EQ(declared, 0x7FFFFFFFu);
  EXPECT_EQ(in.at, 4u);
}

TEST(FrameTest, EncodedLengthIsLittleEndian) {
  const std::string payload(0x010203, 'p');
  const std::string frame = host::EncodeFrame(payload);
  EXPECT_EQ(frame.substr(0, 4), std::string("\x03\x02\x01\x00", 4));
  EXPECT_EQ(frame.size(), payload.size() + 4);
}

class ServeTest : public ::testing::Test {
 protected:
  // No module is bound in this process: every token query fails softly, which is all the loop needs.
  tq::TokenQueries queries_;
  host::RequestHandler handler_{queries_, [] { return tq::TrustedOrigins::FromText(L"https://bank.example"); },
                                nullptr};

  std::vector<nlohmann::json> Answers(const std::string& output) {
    StringInput out{output};
    host::ByteReader read = out.Reader();
    std::vector<nlohmann::json> answers;
    std::string payload;
    while (host::ReadFrame(read, &payload) == FrameStatus::kFrame) answers.push_back(nlohmann::json::parse(payload));
    EXPECT_EQ(out.at, output.size()) << "output is not a sequence of whole frames";
    return answers;
  }
};

TEST_F(ServeTest, TheListFirstThenOneAnswerPerFrameAndTheExitCodeSaysWhyItEnded) {
  const std::string kList = R"({"event":"origins","origins":["https://bank.example"]})";
  const std::string ok = R"({"id":1,"method":"GetKeyCount","params":[],"origin":"https://bank.example"})";
  const struct {
    const char* what;
    std::string input;
    host::ServeResult result;
    std::vector<std::string> answers;  // "result" or "error" per answer, with the id
  } rows[] = {
      {"closed at once", "", host::kServedToEnd, {kList}},
      {"two requests", host::EncodeFrame(ok) + host::EncodeFrame(ok), host::kServedToEnd,
       {kList, "1 result", "1 result"}},
      {"garbage then a request", host::EncodeFrame("\x01\x02 not json") + host::EncodeFrame(ok), host::kServedToEnd,
       {kList, "null error", "1 result"}},
      {"request then truncated", host::EncodeFrame(ok) + Le32(10) + "{\"id\"", host::kBrokenInput,
       {kList, "1 result"}},
      {"too long ends the conversation", Le32(host::kMaxFrame + 1) + host::EncodeFrame(ok), host::kBrokenInput,
       {kList, "null error"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    StringInput in{row.input, 7};
    std::string output;
    host::ServeResult result = host::Serve(in.Reader(), [&](std::string_view b) {
      output.append(b);
      return true;
    }, handler_);
    EXPECT_EQ(result, row.result);
    std::vector<std::string> seen;
    for (const auto& a : Answers(output)) {
      seen.push_back(a.contains("event") ? a.dump()
                                         : a["id"].dump() + (a.contains("result") ? " result" : " error"));
    }
    EXPECT_EQ(seen, row.answers);
  }
}

TEST_F(ServeTest, OutputGoneEndsTheLoop) {
  const std::string ok = R"({"id":1,"method":"GetKeyCount","origin":"https://bank.example"})";
  StringInput in{host::EncodeFrame(ok) + host::EncodeFrame(ok)};
  int writes = 0;
  EXPECT_EQ(host::Serve(in.Reader(), [&](std::string_view) { return ++writes, false; }, handler_), host::kOutputGone);
  EXPECT_EQ(writes, 1);
}

}  // namespace
