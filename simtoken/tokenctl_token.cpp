// tokenctl's token commands: insert, remove, set, list, reset, event, fail.
#include "store.h"
#include "text.h"
#include "tokenctl_commands.h"
#include "tokenctl_util.h"

#include <cstdio>
#include <cstring>

namespace tokenctl {
namespace {

using simtoken::Store;
using simtoken::Token;

// The user PIN of a token that tokenctl inserts without --pin.
constexpr char kDefaultPin[] = "246802";

bool ParseSlot(const std::wstring& text, CK_SLOT_ID* slot, std::string* error) {
  auto v = ParseNumber(text);
  if (!v || !simtoken::IsSlotId(*v)) {
    *error = "bad slot \"" + Narrow(text) + "\" (1..12)";
    return false;
  }
  *slot = *v;
  return true;
}

bool ParseOnOff(const ParsedArgs& p, const wchar_t* name, std::optional<bool>* out, std::string* error) {
  auto it = p.values.find(name);
  if (it == p.values.end()) return true;
  if (it->second == L"on") {
    *out = true;
  } else if (it->second == L"off") {
    *out = false;
  } else {
    *error = "--" + Narrow(name) + " takes on or off";
    return false;
  }
  return true;
}

// A text option that must fit a fixed token field (in UTF-8 bytes).
bool ParseField(const ParsedArgs& p, const wchar_t* name, size_t max, std::optional<std::string>* out,
                std::string* error) {
  auto it = p.values.find(name);
  if (it == p.values.end()) return true;
  std::string utf8 = vd::WideToUtf8(it->second);
  if (utf8.size() > max) {
    *error = "--" + Narrow(name) + " is longer than " + std::to_string(max) + " bytes";
    return false;
  }
  *out = utf8;
  return true;
}

bool ParseCount(const ParsedArgs& p, const wchar_t* name, uint32_t lo, uint32_t hi, std::optional<uint32_t>* out,
                std::string* error) {
  auto it = p.values.find(name);
  if (it == p.values.end()) return true;
  auto v = ParseNumber(it->second);
  if (!v || *v < lo || *v > hi) {
    *error = "--" + Narrow(name) + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi);
    return false;
  }
  *out = v;
  return true;
}

std::string DefaultSerial(CK_SLOT_ID slot) {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  unsigned long long t = ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10;
  char s[32];
  std::snprintf(s, sizeof s, "ST%02lu%012llX", static_cast<unsigned long>(slot), t & 0xFFFFFFFFFFFFull);
  return s;
}

bool Raise(const Store& store, CK_SLOT_ID slot, uint32_t code, uint32_t data = 0) {
  if (store.RaiseEvent(simtoken::Event{static_cast<uint32_t>(slot), code, data})) return true;
  std::fprintf(stderr, "tokenctl: cannot append to the event log\n");
  return false;
}

int SaveOrFail(const Store& store, CK_SLOT_ID slot, const Token& t) {
  if (store.SaveToken(slot, t)) return 0;
  std::fprintf(stderr, "tokenctl: cannot write %s\n", vd::WideToUtf8(store.TokenPath(slot)).c_str());
  return 1;
}

}  // namespace

std::unique_ptr<Store> OpenStore() {
  std::wstring error;
  std::unique_ptr<Store> s = Store::Open(&error);
  if (!s) std::fprintf(stderr, "tokenctl: %s\n", vd::WideToUtf8(error).c_str());
  return s;
}

int LoadExisting(const Store& store, CK_SLOT_ID slot, Token* t) {
  switch (store.LoadToken(slot, t)) {
    case simtoken::LoadResult::kOk:
      return 0;
    case simtoken::LoadResult::kMissing:
      return BadArgument("slot " + std::to_string(slot) + " holds no token");
    case simtoken::LoadResult::kDamaged:
      break;
  }
  return BadArgument("the token file of slot " + std::to_string(slot) + " is damaged");
}

int CmdInsert(const Args& a) {
  ParsedArgs p;
  std::string error;
  CK_SLOT_ID slot = 0;
  std::optional<std::string> label, serial, model, pin;
  std::optional<uint32_t> minPin, maxPin, tries;
  if (!ParseArgs(a, 2, {L"label", L"serial", L"model", L"min-pin", L"max-pin", L"pin", L"tries"},
                 {L"uninitialized", L"pin-to-be-changed"}, &p, &error) ||
      !ParseField(p, L"label", 32, &label, &error) || !ParseField(p, L"serial", 16, &serial, &error) ||
      !ParseField(p, L"model", 16, &model, &error) || !ParseField(p, L"pin", 255, &pin, &error) ||
      !ParseCount(p, L"min-pin", 1, 255, &minPin, &error) || !ParseCount(p, L"max-pin", 1, 255, &maxPin, &error) ||
      !ParseCount(p, L"tries", 0, 255, &tries, &error))
    return BadArgument(error);
  if (p.positional.size() != 1) return BadArgument("insert takes one SLOT");
  if (!ParseSlot(p.positional[0], &slot, &error)) return BadArgument(error);

  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  Token t;
  if (store->LoadToken(slot, &t) != simtoken::LoadResult::kOk) {
    t = Token();
    t.present = false;
    t.SetSerial(DefaultSerial(slot));
    t.userPin.Set(kDefaultPin, sizeof kDefaultPin - 1);
  }
  if (!t.present) ++t.insertions;
  uint32_t lo = minPin.value_or(t.minPin), hi = maxPin.value_or(t.maxPin);
  if (lo > hi) return BadArgument("--min-pin is greater than --max-pin");
  t.minPin = lo;
  t.maxPin = hi;
  if (label) t.SetLabel(*label);
  if (serial) t.SetSerial(*serial);
  if (model) t.SetModel(*model);
  if (pin) t.userPin.Set(pin->data(), pin->size());
  if (tries) t.maxTries = t.triesLeft = *tries;
  if (p.flags.count(L"uninitialized"))
    t.flags &= ~static_cast<CK_FLAGS>(CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED);
  if (p.flags.count(L"pin-to-be-changed")) t.flags |= CKF_USER_PIN_TO_BE_CHANGED;
  t.present = true;
  if (int rc = SaveOrFail(*store, slot, t)) return rc;
  return Raise(*store, slot, TOKEN_EVT_INSERTED) ? 0 : 1;
}

int CmdRemove(const Args& a) {
  std::string error;
  CK_SLOT_ID slot = 0;
  if (a.size() != 3) return BadArgument("remove takes one SLOT");
  if (!ParseSlot(a[2], &slot, &error)) return BadArgument(error);
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  Token t;
  if (int rc = LoadExisting(*store, slot, &t)) return rc;
  t.present = false;
  if (int rc = SaveOrFail(*store, slot, t)) return rc;
  return Raise(*store, slot, TOKEN_EVT_REMOVED) ? 0 : 1;
}

int CmdSet(const Args& a) {
  ParsedArgs p;
  std::string error;
  CK_SLOT_ID slot = 0;
  std::optional<std::string> label, pin;
  std::optional<uint32_t> tries;
  std::optional<bool> toBeChanged, initialized;
  if (!ParseArgs(a, 2, {L"label", L"pin", L"tries", L"pin-to-be-changed", L"initialized"}, {}, &p, &error) ||
      !ParseField(p, L"label", 32, &label, &error) || !ParseField(p, L"pin", 255, &pin, &error) ||
      !ParseCount(p, L"tries", 0, 255, &tries, &error) ||
      !ParseOnOff(p, L"pin-to-be-changed", &toBeChanged, &error) ||
      !ParseOnOff(p, L"initialized", &initialized, &error))
    return BadArgument(error);
  if (p.positional.size() != 1) return BadArgument("set takes one SLOT");
  if (!ParseSlot(p.positional[0], &slot, &error)) return BadArgument(error);
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  Token t;
  if (int rc = LoadExisting(*store, slot, &t)) return rc;
  if (label) t.SetLabel(*label);
  if (pin) t.userPin.Set(pin->data(), pin->size());
  if (tries) {
    t.triesLeft = *tries;
    if (t.maxTries < *tries) t.maxTries = *tries;
  }
  auto setFlag = [&](const std::optional<bool>& on, CK_FLAGS flag) {
    if (on) t.flags = *on ? (t.flags | flag) : (t.flags & ~flag);
  };
  setFlag(toBeChanged, CKF_USER_PIN_TO_BE_CHANGED);
  setFlag(initialized, CKF_TOKEN_INITIALIZED);
  if (int rc = SaveOrFail(*store, slot, t)) return rc;
  // A pulled token reports nothing: only a token in its slot raises events.
  if (label && t.present && !Raise(*store, slot, TOKEN_EVT_LABEL_CHANGED)) return 1;
  return 0;
}

int CmdEvent(const Args& a) {
  std::string error;
  CK_SLOT_ID slot = 0;
  if (a.size() != 4 && a.size() != 5) return BadArgument("event takes SLOT CODE [DATA]");
  if (!ParseSlot(a[2], &slot, &error)) return BadArgument(error);
  auto code = ParseNumber(a[3]);
  if (!code) return BadArgument("bad event code \"" + Narrow(a[3]) + "\"");
  bool stamp = a.size() == 5 && a[4] == L"qpc";
  std::optional<uint32_t> data = 0u;
  if (a.size() == 5 && !stamp) data = ParseNumber(a[4]);
  if (!data) return BadArgument("bad event data \"" + Narrow(a[4]) + "\"");
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  if (stamp) {
    // Taken with the lock held, right before the append: a waiter's latency is measured from here.
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    data = static_cast<uint32_t>(now.QuadPart);
  }
  return Raise(*store, slot, *code, *data) ? 0 : 1;
}

int CmdList(const Args& a) {
  if (a.size() != 2) return BadArgument("list takes no arguments");
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  for (CK_SLOT_ID slot = simtoken::kFirstSlot; slot <= simtoken::kLastSlot; ++slot) {
    Token t;
    simtoken::LoadResult r = store->LoadToken(slot, &t);
    if (r == simtoken::LoadResult::kMissing) continue;
    if (r == simtoken::LoadResult::kDamaged) {
      std::printf("slot %lu damaged\n", static_cast<unsigned long>(slot));
      continue;
    }
    std::printf("slot %lu %s label=\"%.*s\" serial=\"%.*s\" flags=0x%lx\n", static_cast<unsigned long>(slot),
                t.present ? "present" : "absent", static_cast<int>(vd::FixedField(t.label, 32).size()),
                vd::FixedField(t.label, 32).data(), static_cast<int>(vd::FixedField(t.serial, 16).size()),
                vd::FixedField(t.serial, 16).data(), static_cast<unsigned long>(t.flags));
    for (const simtoken::Object& o : t.objects) {
      const simtoken::Attribute* cls = o.Find(CKA_CLASS);
      CK_ULONG c = ~0UL;
      if (cls && cls->value.size() == sizeof c) std::memcpy(&c, cls->value.data(), sizeof c);
      std::string className = c == CKO_CERTIFICATE ? "certificate"
                              : c == CKO_PRIVATE_KEY ? "private-key"
                                                     : std::to_string(c);
      auto text = [&](CK_ATTRIBUTE_TYPE type) {
        const simtoken::Attribute* v = o.Find(type);
        std::string s = v ? std::string(v->value.begin(), v->value.end()) : std::string();
        if (!s.empty() && s.back() == '\0') s.pop_back();
        return s;
      };
      const simtoken::Attribute* id = o.Find(CKA_ID);
      std::printf("  handle=%lu class=%s id=%s container=\"%s\" label=\"%s\"\n", static_cast<unsigned long>(o.handle),
                  className.c_str(), id ? Hex(id->value).c_str() : "", text(CKA_VENDOR_CONTAINER).c_str(),
                  text(CKA_LABEL).c_str());
    }
  }
  return 0;
}

int CmdReset(const Args& a) {
  if (a.size() != 2) return BadArgument("reset takes no arguments");
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  for (CK_SLOT_ID slot = simtoken::kFirstSlot; slot <= simtoken::kLastSlot; ++slot) {
    if (!store->DeleteToken(slot)) {
      std::fprintf(stderr, "tokenctl: cannot delete the token of slot %lu\n", static_cast<unsigned long>(slot));
      return 1;
    }
  }
  return 0;
}

int CmdFail(const Args& a) {
  ParsedArgs p;
  std::string error;
  std::optional<uint32_t> after, times;
  if (!ParseArgs(a, 2, {L"after", L"times"}, {L"clear"}, &p, &error) ||
      !ParseCount(p, L"after", 0, 0xFFFFFFFF, &after, &error) ||
      !ParseCount(p, L"times", 1, 0xFFFFFFFF, &times, &error))
    return BadArgument(error);
  bool clear = p.flags.count(L"clear") > 0;
  if (clear && (!p.positional.empty() || after || times)) return BadArgument("fail --clear takes nothing else");
  simtoken::FaultRule rule;
  if (!clear) {
    if (p.positional.size() != 2) return BadArgument("fail takes FUNCTION RV");
    rule.function = Narrow(p.positional[0]);
    if (!IsFaultableFunction(rule.function)) return BadArgument("unknown function \"" + rule.function + "\"; one of: " + FaultableFunctions());
    auto rv = ParseRv(p.positional[1]);
    if (!rv) return BadArgument("bad return value \"" + Narrow(p.positional[1]) + "\"");
    rule.rv = *rv;
    rule.after = after.value_or(0);
    rule.times = times.value_or(0);
  }
  auto store = OpenStore();
  if (!store) return 1;
  Store::Lock lock(*store);
  std::vector<simtoken::FaultRule> rules;
  if (!clear) {
    rules = store->LoadFaults();
    std::erase_if(rules, [&](const simtoken::FaultRule& r) { return r.function == rule.function; });
    rules.push_back(rule);
  }
  if (!store->SaveFaults(rules)) {
    std::fprintf(stderr, "tokenctl: cannot write the fault rules\n");
    return 1;
  }
  return 0;
}

}  // namespace tokenctl
