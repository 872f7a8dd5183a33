#include "punycode.h"

#include <windows.h>

#include <limits>

#include "text.h"

namespace tq {
namespace {

// The parameters of Punycode (RFC 3492, section 5).
constexpr uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700, kInitialBias = 72;
constexpr uint32_t kInitialN = 128;
constexpr uint32_t kMaxInt = std::numeric_limits<uint32_t>::max();
constexpr char kAcePrefix[] = "xn--";

uint32_t Adapt(uint32_t delta, uint32_t points, bool first) {
  delta = first ? delta / kDamp : delta / 2;
  delta += delta / points;
  uint32_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

uint32_t Threshold(uint32_t k, uint32_t bias) {
  if (k <= bias) return kTMin;
  if (k >= bias + kTMax) return kTMax;
  return k - bias;
}

char Digit(uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26)); }

uint32_t DigitValue(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint32_t>(c - 'a');
  if (c >= 'A' && c <= 'Z') return static_cast<uint32_t>(c - 'A');
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0' + 26);
  return kBase;
}

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// UTF-16 to code points; nothing for a lone surrogate.
std::optional<std::u32string> CodePoints(std::wstring_view w) {
  std::u32string out;
  for (size_t i = 0; i < w.size(); ++i) {
    const uint32_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return std::nullopt;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::wstring Utf16Of(std::u32string_view points) {
  std::wstring w;
  for (char32_t c : points) {
    if (c >= 0x10000) {
      w.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      w.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      w.push_back(static_cast<wchar_t>(c));
    }
  }
  return w;
}

}  // namespace

std::optional<std::string> PunycodeEncode(std::u32string_view input) {
  std::string out;
  for (char32_t c : input) {
    if (c < 0x80) out.push_back(static_cast<char>(c));
  }
  const uint32_t basic = static_cast<uint32_t>(out.size());
  if (basic > 0) out.push_back('-');
  uint32_t n = kInitialN, delta = 0, bias = kInitialBias, handled = basic;
  while (handled < input.size()) {
    uint32_t m = kMaxInt;
    for (char32_t c : input) {
      if (c >= n && c < m) m = c;
    }
    if (m - n > (kMaxInt - delta) / (handled + 1)) return std::nullopt;
    delta += (m - n) * (handled + 1);
    n = m;
    for (char32_t c : input) {
      if (c < n && ++delta == 0) return std::nullopt;
      if (c != n) continue;
      uint32_t q = delta;
      for (uint32_t k = kBase;; k += kBase) {
        const uint32_t t = Threshold(k, bias);
        if (q < t) break;
        out.push_back(Digit(t + (q - t) % (kBase - t)));
        q = (q - t) / (kBase - t);
      }
      out.push_back(Digit(q));
      bias = Adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return out;
}

std::optional<std::u32string> PunycodeDecode(std::string_view input) {
  std::u32string out;
  const size_t dash = input.rfind('-');
  size_t in = 0;
  if (dash != std::string_view::npos) {
    for (size_t j = 0; j < dash; ++j) {
      if (static_cast<unsigned char>(input[j]) >= 0x80) return std::nullopt;
      out.push_back(static_cast<unsigned char>(input[j]));
    }
    in = dash + 1;
  }
  uint32_t n = kInitialN, i = 0, bias = kInitialBias;
  while (in < input.size()) {
    const uint32_t oldi = i;
    uint32_t w = 1;
    for (uint32_t k = kBase;; k += kBase) {
      if (in >= input.size()) return std::nullopt;
      const uint32_t digit = DigitValue(input[in++]);
      if (digit >= kBase || digit > (kMaxInt - i) / w) return std::nullopt;
      i += digit * w;
      const uint32_t t = Threshold(k, bias);
      if (digit < t) break;
      if (w > kMaxInt / (kBase - t)) return std::nullopt;
      w *= kBase - t;
    }
    const uint32_t count = static_cast<uint32_t>(out.size()) + 1;
    bias = Adapt(i - oldi, count, oldi == 0);
    if (i / count > kMaxInt - n) return std::nullopt;
    n += i / count;
    i %= count;
    // A decoded code point that is basic, a surrogate or beyond Unicode makes no label a browser wrote.
    if (n < 0x80 || (n >= 0xD800 && n <= 0xDFFF) || n > 0x10FFFF) return std::nullopt;
    out.insert(out.begin() + i, static_cast<char32_t>(n));
    ++i;
  }
  return out;
}

std::optional<std::string> HostToAscii(std::string_view utf8) {
  if (IsAscii(utf8)) {
    std::string lower(utf8);
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return lower;
  }
  std::wstring wide = vd::Utf8ToWide(utf8);
  if (wide.empty() || vd::WideToUtf8(wide) != utf8) return std::nullopt;  // no UTF-8
  ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  for (wchar_t& c : wide) {
    if (c == 0x3002 || c == 0xFF0E || c == 0xFF61) c = L'.';
  }
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t dot = wide.find(L'.', start);
    const std::wstring_view label =
        std::wstring_view(wide).substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
    const auto points = CodePoints(label);
    if (!points) return std::nullopt;
    bool ascii = true;
    for (char32_t c : *points) ascii = ascii && c < 0x80;
    if (ascii) {
      out += vd::WideToUtf8(label);
    } else {
      const auto encoded = PunycodeEncode(*points);
      if (!encoded) return std::nullopt;
      out += kAcePrefix + *encoded;
    }
    if (dot == std::wstring::npos) break;
    out += '.';
    start = dot + 1;
  }
  return out;
}

std::string HostToUnicode(std::string_view ascii) {
  std::wstring out;
  size_t start = 0;
  for (;;) {
    const size_t dot = ascii.find('.', start);
    const std::string_view label = ascii.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (label.size() > 4 && label.substr(0, 4) == kAcePrefix) {
      const auto decoded = PunycodeDecode(label.substr(4));
      if (!decoded) return std::string(ascii);
      out += Utf16Of(*decoded);
    } else {
      out += vd::Utf8ToWide(label);
    }
    if (dot == std::string_view::npos) break;
    out += L'.';
    start = dot + 1;
  }
  return vd::WideToUtf8(out);
}

}  // namespace tq
