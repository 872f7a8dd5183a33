#include "expiry.h"

#include <atomic>

#include "expiry_ids.h"
#include "handles.h"
#include "language_manager.h"

namespace vd {
namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;  // FILETIME counts 100 ns
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
constexpr size_t kMaxMessage = 255;

std::atomic<bool> g_warningsOn{true};
std::atomic<ExpiryPrompt> g_prompt{nullptr};

int64_t Ticks(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// The texts come from a language file: only "%d" and "%%" are taken as conversions, so that a translation
// with a stray "%s" shows literally instead of reading an argument that was never passed.
std::wstring FormatDays(const std::wstring& format, int days) {
  std::wstring out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == L'%' && i + 1 < format.size()) {
      if (format[i + 1] == L'd') {
        out += std::to_wstring(days);
        ++i;
        continue;
      }
      if (format[i + 1] == L'%') {
        out += L'%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

struct ExpiryDialogState {
  int days = 0;
  bool noPrompt = false;
};

void OnInitDialog(HWND dlg, const ExpiryDialogState& state) {
  TranslateDialog(dlg, IDD_CHECK_CERT);
  ::SetDlgItemTextW(dlg, IDC_CHECK_CERT_MESSAGE, ExpiryMessage(state.days).c_str());

  // Centred across, a third of the free height from the top, above everything: the user is busy
  // elsewhere when the token goes in.
  RECT rc{};
  ::GetWindowRect(dlg, &rc);
  int width = rc.right - rc.left;
  int height = rc.bottom - rc.top;
  int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 3;
  ::SetWindowPos(dlg, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE);
  ::SetForegroundWindow(dlg);
}

INT_PTR CALLBACK ExpiryDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<ExpiryDialogState*>(::GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(dlg, DWLP_USER, lParam);
      OnInitDialog(dlg, *reinterpret_cast<ExpiryDialogState*>(lParam));
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if ((id == IDOK || id == IDCANCEL) && state) {
        // Either button honours the box: the user asked not to be bothered again.
        state->noPrompt = ::IsDlgButtonChecked(dlg, IDC_CHECK_CERT_NO_PROMPT) == BST_CHECKED;
        ::EndDialog(dlg, id);
        return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

}  // namespace

std::optional<int> ExpiryWarningDays(const FILETIME& notAfter, const FILETIME& now, int horizonDays) {
  int64_t limit = Ticks(now);
  if (horizonDays > 0) limit += static_cast<int64_t>(horizonDays) * kTicksPerDay;
  int64_t end = Ticks(notAfter);
  if (end > limit) return std::nullopt;
  // Integer division truncates toward zero, as the day count does.
  int64_t days = (end - Ticks(now)) / kTicksPerDay;
  if (days >= 0) ++days;
  return static_cast<int>(days);
}

std::wstring ExpiryMessage(int days) {
  std::wstring text =
      days < 0 ? LangString(90001, L"The certificate saved in the USBKey is expired, please renew the certificate!")
               : FormatDays(LangString(90000,
                                       L"The certificate saved in the USBKey will be expired in %d Day, please "
                                       L"renew the certificate!"),
                            days);
  if (text.size() > kMaxMessage) text.resize(kMaxMessage);
  return text;
}

bool ExpiryDialog(int days) {
  ExpiryDialogState state;
  state.days = days;
  INT_PTR r = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHECK_CERT), nullptr,
                                ExpiryDialogProc, reinterpret_cast<LPARAM>(&state));
  return r > 0 && state.noPrompt;
}

void CheckExpiryAt(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays,
                   const FILETIME& now) {
  for (const std::vector<uint8_t>& value : certificateValues) {
    if (!g_warningsOn.load()) return;
    if (value.empty()) continue;
    UniqueCertContext cert(::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, value.data(),
                                                          static_cast<DWORD>(value.size())));
    if (!cert) continue;
    std::optional<int> days = ExpiryWarningDays(cert.get()->pCertInfo->NotAfter, now, horizonDays);
    if (!days) continue;
    ExpiryPrompt prompt = g_prompt.load();
    bool noPrompt = prompt ? prompt(*days) : ExpiryDialog(*days);
    if (noPrompt) g_warningsOn = false;
  }
}

void CheckExpiry(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  CheckExpiryAt(certificateValues, horizonDays, now);
}

bool ExpiryWarningsOn() { return g_warningsOn.load(); }

ExpiryPrompt SetExpiryPrompt(ExpiryPrompt prompt) { return g_prompt.exchange(prompt); }

void ResetExpiryWarnings() { g_warningsOn = true; }

}  // namespace vd
