// tokenctl's object commands (add-cert, delete) and the event watcher.
#include "cert_objects.h"
#include "store.h"
#include "text.h"
#include "tokenctl_commands.h"
#include "tokenctl_util.h"

#include <cstdio>

namespace tokenctl {
namespace {

using simtoken::Store;
using simtoken::Token;

bool ParseSlot(const std::wstring& text, CK_SLOT_ID* slot) {
  auto v = ParseNumber(text);
  if (!v || !simtoken::IsSlotId(*v)) return false;
  *slot = *v;
  return true;
}

}  // namespace

int CmdAddCert(const Args& a) {
  ParsedArgs p;
  std::string error;
  if (!ParseArgs(a, 2, {L"container", L"id", L"label", L"key"}, {L"raw", L"no-container"}, &p, &error))
    return BadArgument(error);
  if (p.positional.size() != 2) return BadArgument("add-cert takes SLOT FILE");
  CK_SLOT_ID slot = 0;
  if (!ParseSlot(p.positional[0], &slot)) return BadArgument("bad slot \"" + Narrow(p.positional[0]) + "\" (1..12)");
  simtoken::CertRequest req;
  req.raw = p.flags.count(L"raw") > 0;
  req.noContainer = p.flags.count(L"no-container") > 0;
  if (auto it = p.values.find(L"key"); it != p.values.end()) {
    if (it->second == L"encrypt")
      req.key = simtoken::KeyKind::kEncrypt;
    else if (it->second == L"sign")
      req.key = simtoken::KeyKind::kSign;
    else if (it->second == L"none")
      req.key = simtoken::KeyKind::kNone;
    else
      return BadArgument("--key takes encrypt, sign or none");
  }
  if (auto it = p.values.find(L"id"); it != p.values.end()) {
    auto id = ParseHex(it->second);
    if (!id) return BadArgument("--id takes an even number of hexadecimal digits");
    req.id = *id;
  }
  if (auto it = p.values.find(L"container"); it != p.values.end()) {
    req.container = vd::WideToAnsi(it->second);
    if (req.container.empty()) return BadArgument("--container must not be empty");
  }
  if (auto it = p.values.find(L"label"); it != p.values.end()) {
    req.label = vd::WideToUtf8(it->second);
    req.hasLabel = true;
  }
  const std::wstring& file = p.positional[1];
  if (!simtoken::ReadWholeFile(file, &req.fileBytes)) return BadArgument("cannot read " + vd::WideToUtf8(file));
  if (req.fileBytes.empty()) return BadArgument(vd::WideToUtf8(file) + " is empty");

  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  Token t;
  if (int rc = LoadExisting(*store, slot, &t)) return rc;
  CK_OBJECT_HANDLE cert = 0, key = 0;
  if (!simtoken::AddCertificate(req, slot, &t, &cert, &key, &error))
    return BadArgument(vd::WideToUtf8(file) + ": " + error);
  if (!store->SaveToken(slot, t)) {
    std::fprintf(stderr, "tokenctl: cannot write the token file\n");
    return 1;
  }
  if (key)
    std::printf("%lu %lu\n", static_cast<unsigned long>(cert), static_cast<unsigned long>(key));
  else
    std::printf("%lu\n", static_cast<unsigned long>(cert));
  if (t.present && !store->RaiseEvent(simtoken::Event{static_cast<uint32_t>(slot), TOKEN_EVT_OBJECT_CREATED,
                                                      static_cast<uint32_t>(cert)})) {
    std::fprintf(stderr, "tokenctl: cannot append to the event log\n");
    return 1;
  }
  return 0;
}

int CmdDelete(const Args& a) {
  if (a.size() != 4) return BadArgument("delete takes SLOT HANDLE");
  CK_SLOT_ID slot = 0;
  if (!ParseSlot(a[2], &slot)) return BadArgument("bad slot \"" + Narrow(a[2]) + "\" (1..12)");
  auto handle = ParseNumber(a[3]);
  if (!handle || *handle == 0) return BadArgument("bad handle \"" + Narrow(a[3]) + "\"");
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  Token t;
  if (int rc = LoadExisting(*store, slot, &t)) return rc;
  if (!t.RemoveObject(*handle)) return BadArgument("slot " + std::to_string(slot) + " has no object " + Narrow(a[3]));
  if (!store->SaveToken(slot, t)) {
    std::fprintf(stderr, "tokenctl: cannot write the token file\n");
    return 1;
  }
  if (t.present &&
      !store->RaiseEvent(simtoken::Event{static_cast<uint32_t>(slot), TOKEN_EVT_OBJECT_DESTROYED, *handle})) {
    std::fprintf(stderr, "tokenctl: cannot append to the event log\n");
    return 1;
  }
  return 0;
}

}  // namespace tokenctl
