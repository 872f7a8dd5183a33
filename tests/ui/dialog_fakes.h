// A scripted token layer and recording notification windows for driving the main dialog in-process.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cert_manager_dlg.h"

namespace vdtest {

struct Call {
  std::string what;
  unsigned long key = 0;
  unsigned long object = 0;
  DWORD thread = 0;
  DWORD tick = 0;  // GetTickCount when it was made
};

// The tokens "present" are what the test puts into `tokens`; each call is logged.
class FakeTokens final : public vd::TokenPort {
 public:
  struct Shared {
    std::mutex lock;
    std::vector<vd::TokenView> tokens;
    std::vector<Call> calls;
    std::vector<unsigned long> pinChangeRequired;
    bool loadOk = true;
    bool monitorOk = true;
    DWORD objectDelayMs = 0;  // how long an object event keeps the worker busy
    int failedReads = 0;      // insertions that report a token they could not read
    int partlyReads = 0;      // then insertions that list a token read in part
    std::vector<unsigned long> unreadAtEnumeration;  // tokens an enumeration could not read whole
    // Events handed to the dialog when its monitor starts, before its worker exists.
    std::vector<std::pair<WPARAM, LPARAM>> eventsAtMonitorStart;

    std::vector<Call> CallsNamed(const std::string& what) {
      std::lock_guard<std::mutex> g(lock);
      std::vector<Call> out;
      for (const Call& c : calls) {
        if (c.what == what) out.push_back(c);
      }
      return out;
    }
    void Add(unsigned long key, const std::wstring& label, std::vector<vd::CertificateView> certs = {}) {
      std::lock_guard<std::mutex> g(lock);
      tokens.push_back({key, label, std::move(certs)});
    }
    void Remove(unsigned long key) {
      std::lock_guard<std::mutex> g(lock);
      tokens.erase(std::remove_if(tokens.begin(), tokens.end(), [key](const vd::TokenView& t) { return t.key == key; }),
                   tokens.end());
    }
  };

  explicit FakeTokens(Shared* s) : s_(s) {}
  bool Load() override { return Log("Load"), s_->loadOk; }
  void Unload() override { Log("Unload"); }
  vd::TokenEnumeration EnumerateTokens(bool) override {
    Log("EnumerateTokens");
    std::lock_guard<std::mutex> g(s_->lock);
    return {true, s_->unreadAtEnumeration};
  }
  bool StartMonitor(HWND target, UINT message) override {
    Log("StartMonitor");
    auto events = std::move(s_->eventsAtMonitorStart);
    s_->eventsAtMonitorStart.clear();
    for (auto [wp, lp] : events) ::SendMessageW(target, message, wp, lp);
    return s_->monitorOk;
  }
  vd::TokenRead OnTokenInserted(unsigned long key, bool lastAttempt) override {
    Log(lastAttempt ? "OnTokenInsertedLast" : "OnTokenInserted", key);
    std::lock_guard<std::mutex> g(s_->lock);
    if (s_->failedReads > 0) {
      --s_->failedReads;
      return vd::TokenRead::kFailed;
    }
    if (s_->partlyReads > 0) {
      --s_->partlyReads;
      return vd::TokenRead::kPartly;
    }
    return vd::TokenRead::kWhole;
  }
  void OnTokenRemoved(unsigned long key) override {
    Log("OnTokenRemoved", key);
    s_->Remove(key);
  }
  bool OnObjectCreated(unsigned long key, unsigned long object) override {
    if (s_->objectDelayMs) ::Sleep(s_->objectDelayMs);
    Log("OnObjectCreated", key, object);
    return true;
  }
  void OnObjectDestroyed(unsigned long key, unsigned long object) override { Log("OnObjectDestroyed", key, object); }
  void RefreshLabel(unsigned long key) override { Log("RefreshLabel", key); }
  bool IsPinChangeRequired(unsigned long key) override {
    Log("IsPinChangeRequired", key);
    std::lock_guard<std::mutex> g(s_->lock);
    return std::count(s_->pinChangeRequired.begin(), s_->pinChangeRequired.end(), key) > 0;
  }
  bool HasToken(unsigned long key) override {
    std::lock_guard<std::mutex> g(s_->lock);
    return std::any_of(s_->tokens.begin(), s_->tokens.end(), [key](const vd::TokenView& t) { return t.key == key; });
  }
  bool HasAnyToken() override {
    std::lock_guard<std::mutex> g(s_->lock);
    return !s_->tokens.empty();
  }
  std::vector<vd::TokenView> Snapshot() override {
    std::lock_guard<std::mutex> g(s_->lock);
    return s_->tokens;
  }
  void PurgeRegistrations() override { Log("PurgeRegistrations"); }
  void UnregisterTokenCertificates(unsigned long key) override { Log("UnregisterTokenCertificates", key); }
  CK_FUNCTION_LIST* Functions() override { return nullptr; }
  AuxFunctionList* AuxFunctions() override { return nullptr; }

 private:
  void Log(const char* what, unsigned long key = 0, unsigned long object = 0) {
    std::lock_guard<std::mutex> g(s_->lock);
    s_->calls.push_back({what, key, object, ::GetCurrentThreadId(), ::GetTickCount()});
  }
  Shared* s_;
};

class FakePopups final : public vd::PopupPort {
 public:
  struct Popup final : vd::UsagePopup {
    Popup(unsigned long id, std::time_t start, std::vector<std::pair<unsigned long, std::wstring>>* shown)
        : id(id), start(start), shown(shown) {}
    std::time_t StartTime() const override { return start; }
    void ShowReminder(const std::wstring& text) override { shown->push_back({id, text}); }
    unsigned long id;
    std::time_t start;
    std::vector<std::pair<unsigned long, std::wstring>>* shown;
  };
  struct Shared {
    unsigned long created = 0;
    std::time_t startOverride = 0;  // non-zero: the start time every new popup claims
    std::vector<std::pair<unsigned long, std::wstring>> shown;  // popup number, text
    int aboutShown = 0;
    // What the Set Notifier dialog answers: nothing (Cancel) or OK with these settings.
    std::optional<std::pair<bool, unsigned>> setNotifierAnswer;
  };

  explicit FakePopups(Shared* s) : s_(s) {}
  std::unique_ptr<vd::UsagePopup> CreateUsagePopup(HWND, std::time_t start) override {
    return std::make_unique<Popup>(++s_->created, s_->startOverride ? s_->startOverride : start, &s_->shown);
  }
  std::unique_ptr<vd::BalloonSink> CreateBalloon(HWND) override { return nullptr; }
  void ShowAbout(HWND) override { ++s_->aboutShown; }
  bool RunSetNotifier(HWND, bool* enabled, unsigned* minutes) override {
    if (!s_->setNotifierAnswer) return false;
    *enabled = s_->setNotifierAnswer->first;
    *minutes = s_->setNotifierAnswer->second;
    return true;
  }

 private:
  Shared* s_;
};

}  // namespace vdtest
