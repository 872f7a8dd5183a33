// The session and search owners against a function list that records what the module was asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "pkcs11_session.h"

namespace {

std::vector<std::string> g_calls;
CK_RV g_openResult = CKR_OK;
CK_RV g_initResult = CKR_OK;
CK_RV g_closeResult = CKR_OK;  // the first close's answer; a second close succeeds

CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE* h) {
  g_calls.push_back("open " + std::to_string(slot) + (flags == (CKF_SERIAL_SESSION | CKF_RW_SESSION) ? " rw" : " ?"));
  *h = 40 + slot;
  return g_openResult;
}
CK_RV CloseSession(CK_SESSION_HANDLE h) {
  g_calls.push_back("close " + std::to_string(h));
  return std::exchange(g_closeResult, CKR_OK);
}
CK_RV FindInit(CK_SESSION_HANDLE h, CK_ATTRIBUTE*, CK_ULONG n) {
  g_calls.push_back("init " + std::to_string(h) + " " + std::to_string(n));
  return g_initResult;
}
CK_RV Find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* out, CK_ULONG capacity, CK_ULONG* found) {
  g_calls.push_back("find " + std::to_string(capacity));
  *found = capacity > 0 ? 1 : 0;
  if (capacity > 0) out[0] = 9;
  return CKR_OK;
}
CK_RV FindFinal(CK_SESSION_HANDLE h) {
  g_calls.push_back("final " + std::to_string(h));
  return CKR_OK;
}

CK_FUNCTION_LIST Functions() {
  CK_FUNCTION_LIST f{};
  f.C_OpenSession = OpenSession;
  f.C_CloseSession = CloseSession;
  f.C_FindObjectsInit = FindInit;
  f.C_FindObjects = Find;
  f.C_FindObjectsFinal = FindFinal;
  return f;
}

using Calls = std::vector<std::string>;

TEST(Pkcs11Owners, SessionAndSearchEndOnEveryPath) {
  CK_FUNCTION_LIST f = Functions();
  g_calls.clear();
  {
    vd::Pkcs11Session session;
    ASSERT_EQ(session.Open(&f, 2), CKR_OK);
    vd::Pkcs11Search search(&f, session.get(), nullptr, 0);
    ASSERT_EQ(search.InitResult(), CKR_OK);
    CK_OBJECT_HANDLE h[4];
    CK_ULONG n = 0;
    EXPECT_EQ(search.Next(h, 4, &n), CKR_OK);
    EXPECT_EQ(n, 1u);
  }  // search first, then the session: the order the module expects
  EXPECT_EQ(g_calls, (Calls{"open 2 rw", "init 42 0", "find 4", "final 42", "close 42"}));

  g_calls.clear();
  {
    vd::Pkcs11Session a;
    a.Open(&f, 1);
    vd::Pkcs11Session b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(a.Close(), CKR_OK);
    vd::Pkcs11Search search(&f, b.get(), nullptr, 1);
    EXPECT_EQ(search.Final(), CKR_OK);
    EXPECT_EQ(b.Close(), CKR_OK);
    EXPECT_EQ(b.Close(), CKR_OK);  // once only
  }
  EXPECT_EQ(g_calls, (Calls{"open 1 rw", "init 41 1", "final 41", "close 41"}));
}

TEST(Pkcs11Owners, FailuresLeaveNothingToClose) {
  CK_FUNCTION_LIST f = Functions();
  g_calls.clear();
  g_openResult = CKR_DEVICE_REMOVED;
  {
    vd::Pkcs11Session s;
    EXPECT_EQ(s.Open(&f, 3), CKR_DEVICE_REMOVED);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Open(nullptr, 3), CKR_GENERAL_ERROR);
  }
  g_openResult = CKR_OK;
  g_initResult = CKR_DEVICE_ERROR;
  {
    vd::Pkcs11Session s;
    s.Open(&f, 4);
    vd::Pkcs11Search search(&f, s.get(), nullptr, 0);
    EXPECT_EQ(search.InitResult(), CKR_DEVICE_ERROR);
    CK_OBJECT_HANDLE h;
    CK_ULONG n = 5;
    EXPECT_EQ(search.Next(&h, 1, &n), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(n, 0u);
  }
  g_initResult = CKR_OK;
  EXPECT_EQ(g_calls, (Calls{"open 3 rw", "open 4 rw", "init 44 0", "close 44"})) << "no final without a search";
}

// A module that reuses handle numbers may have given a dropped handle to another session already: only a
// failure that may pass is worth a second close.
TEST(Pkcs11Owners, SecondCloseOnlyAfterAFailureThatMayPass) {
  CK_FUNCTION_LIST f = Functions();
  const struct {
    CK_RV first;
    CK_RV result;
    int closes;
  } rows[] = {
      {CKR_DEVICE_REMOVED, CKR_DEVICE_REMOVED, 1},
      {CKR_SESSION_CLOSED, CKR_SESSION_CLOSED, 1},
      {CKR_SESSION_HANDLE_INVALID, CKR_SESSION_HANDLE_INVALID, 1},
      {CKR_DEVICE_ERROR, CKR_OK, 2},
      {CKR_GENERAL_ERROR, CKR_OK, 2},
  };
  for (const auto& r : rows) {
    g_calls.clear();
    vd::Pkcs11Session s;
    ASSERT_EQ(s.Open(&f, 5), CKR_OK);
    g_closeResult = r.first;
    EXPECT_EQ(s.Close(), r.result) << std::hex << r.first;
    EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "close 45"), r.closes) << std::hex << r.first;
  }
}

}  // namespace
