#include "device_info_dlg.h"

#include "commands_ids.h"
#include "info_texts.h"
#include "language_manager.h"
#include "os_version.h"
#include "text_dialog.h"

namespace vd {
namespace {

// The dialog keeps the product version in a buffer of 20 characters, terminator included.
constexpr size_t kProductVersionBuffer = 20;
const wchar_t kBlankLine[] = L"\r\n\r\n";

// A PIN whose tries could not be read is not called blocked: the user would be sent to the bank counter
// for a token that may be fine.
std::wstring PinStateText(const TokenFacts& token) {
  using namespace info_text;
  if (token.pinInfoResult != CKR_OK) return FormatText(kPinUnreadable, {static_cast<unsigned>(token.pinInfoResult)});
  if (token.triesLeft <= 0) return Text(kBlocked);
  return FormatText(kTriesState, {token.wrongTries, token.triesLeft});
}

}  // namespace

SystemFacts ReadSystemFacts() {
  SystemFacts facts;
  const OsVersionInfo os;
  facts.productText = os.ProductText();
  facts.versionText = os.VersionText();
  facts.browserVersion = OsVersionInfo::GetBrowserVersionText();
  wchar_t version[kProductVersionBuffer] = {};
  OsVersionInfo::GetProductVersion(version, kProductVersionBuffer);
  facts.productVersion = version;
  return facts;
}

std::wstring DeviceInfoText(const TokenFacts& token, const SystemFacts& system) {
  using namespace info_text;
  const bool present = token.tokenCount > 0;
  std::wstring text;
  // The version goes under the product name, 13 blanks in: below the name, past the label.
  text += Text(kOsVersion) + system.productText + L"\r\n" + std::wstring(13, L' ') + system.versionText + kBlankLine;
  text += Text(kBrowserVersion) + system.browserVersion + kBlankLine;
  if (present) {
    text += Text(kTokenModel) + token.model + kBlankLine;
    text += Text(kTokenSerial) + token.serial + kBlankLine;
  }
  text += Text(kProductVersion) + system.productVersion + kBlankLine;
  text += Text(kTokenState) + Text(present ? kConnected : kNotConnected) + kBlankLine;
  if (present) text += Text(kPinState) + PinStateText(token) + kBlankLine;
  return text;
}

void RunDeviceInfoDialog(HWND owner, const TokenFacts& facts) {
  RunTextDialog(owner, IDD_DEVICE_INFO, IDC_DEVICE_INFO_TEXT, DeviceInfoText(facts, ReadSystemFacts()));
}

}  // namespace vd
