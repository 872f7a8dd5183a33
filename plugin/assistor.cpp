#include "assistor.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <set>

#include "erase_confirm.h"
#include "page_origin.h"
#include "trusted_origins.h"
#include "variants.h"

namespace np {
namespace {

DispatchCode AnswerText(NPVariant* result, const char* buffer) {
  return SetString(result, buffer, std::strlen(buffer)) ? kDispatchOk : kNoMemory;
}

// Each entry the installed list drops is named once per process on the debugger output: the plug-in has
// no other place a person could look, and a page calls often.
void NameDroppedOnce(const tq::TrustedOrigins& list) {
  static std::set<std::string> named;
  for (const tq::RejectedOrigin& r : list.rejected()) {
    if (!named.insert(r.entry + '\n' + r.reason).second) continue;
    const std::string line = "npLumora: trusted origin \"" + r.entry + "\" dropped: " + r.reason + "\n";
    ::OutputDebugStringA(line.c_str());
  }
}

// Only pages the bank's installer lists reach the token at all: the read queries name the token's holder,
// and re-initialising erases it. Without the list no page does; an unlisted page is answered as a machine
// without a token would be. The origin is the browser's, normalised as the list is; empty when unlisted.
std::string ListedOrigin(NPP npp) {
  const std::string origin = tq::NormaliseOrigin(PageOrigin(npp));
  const tq::TrustedOrigins list = tq::TrustedOrigins::FromRegistry();
  NameDroppedOnce(list);
  return list.Names(origin) ? origin : std::string();
}

}  // namespace

CNpPluginAssistor::CNpPluginAssistor(NPP npp) : npp_(npp) { Pagebridge(); }

void CNpPluginAssistor::RegisterMethods(std::vector<std::string>& list) {
  RegisterMethod(list, "InitKey", &CNpPluginAssistor::OnInitKey);
  RegisterMethod(list, "GetKeyCount", &CNpPluginAssistor::OnGetKeyCount);
  RegisterMethod(list, "GetUKeySN", &CNpPluginAssistor::OnGetUKeySN);
  RegisterMethod(list, "GetSN", &CNpPluginAssistor::OnGetSN);
  RegisterMethod(list, "GetAllCertCn", &CNpPluginAssistor::OnGetAllCertCn);
}

void CNpPluginAssistor::RegisterProperties(std::vector<std::string>&) {}

DispatchCode CNpPluginAssistor::OnInitKey(NPIdentifier, const NPVariant* args, uint32_t argCount,
                                          NPVariant* result) {
  const char* serial = nullptr;
  uint32_t length = 0;
  if (argCount != 1 || !args || !result || !ReadText(args[0], &serial, &length)) return kBadArguments;
  // Lengths beyond int range count as "no serial", like an empty text: nothing can match them anyway.
  if (length == 0 || length > INT_MAX || !impl()) {
    SetInt32(result, length == 0 || length > INT_MAX ? tq::kInitKeyNoSerial : tq::kInitKeyFailed);
    return kDispatchOk;
  }
  const std::string origin = ListedOrigin(npp_);
  // One question at a time, and none for a page whose question the user just cancelled: refused before
  // the token is touched.
  if (origin.empty() || !tq::MayAskToErase(origin)) {
    SetInt32(result, tq::kInitKeyFailed);
    return kDispatchOk;
  }
  SetInt32(result, impl()->InitKey(serial, static_cast<int>(length), tq::ConsentOfTheUser(origin)));
  return kDispatchOk;
}

DispatchCode CNpPluginAssistor::OnGetKeyCount(NPIdentifier, const NPVariant*, uint32_t argCount,
                                              NPVariant* result) {
  if (argCount != 0 || !result) return kBadArguments;
  SetInt32(result, impl() && !ListedOrigin(npp_).empty() ? impl()->GetKeyCount() : 0);
  return kDispatchOk;
}

DispatchCode CNpPluginAssistor::OnGetUKeySN(NPIdentifier, const NPVariant*, uint32_t argCount,
                                            NPVariant* result) {
  if (argCount != 0 || !result) return kBadArguments;
  char buffer[tq::kSerialTextSize] = {};
  if (impl() && !ListedOrigin(npp_).empty()) impl()->GetUKeySN(buffer, sizeof buffer);
  return AnswerText(result, buffer);
}

DispatchCode CNpPluginAssistor::OnGetSN(NPIdentifier, const NPVariant*, uint32_t argCount, NPVariant* result) {
  if (argCount != 0 || !result) return kBadArguments;
  char buffer[tq::kListTextSize] = {};
  int count = 0;
  if (impl() && !ListedOrigin(npp_).empty()) impl()->GetSN(buffer, sizeof buffer, &count);
  return AnswerText(result, buffer);
}

DispatchCode CNpPluginAssistor::OnGetAllCertCn(NPIdentifier, const NPVariant*, uint32_t argCount,
                                               NPVariant* result) {
  if (argCount != 0 || !result) return kBadArguments;
  char buffer[tq::kListTextSize] = {};
  int count = 0;
  if (impl() && !ListedOrigin(npp_).empty()) impl()->GetAllCertCn(buffer, sizeof buffer, &count);
  return AnswerText(result, buffer);
}

}  // namespace np
