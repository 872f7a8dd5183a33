// The user PIN change and the vendor table's token operations.
#include "module_fixture.h"

#include <cstring>

namespace simtest {
namespace {

class PinTest : public ModuleTest {
 protected:
  CK_RV Change(CK_SESSION_HANDLE s, const char* oldPin, const char* newPin) {
    return m.f->C_SetPIN(s, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(oldPin)),
                         static_cast<CK_ULONG>(std::strlen(oldPin)),
                         reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(newPin)),
                         static_cast<CK_ULONG>(std::strlen(newPin)));
  }
  int TriesLeft(CK_SLOT_ID slot) {
    CK_BYTE out[4] = {};
    EXPECT_EQ(m.aux->getPinInfo(slot, out), CKR_OK);
    return out[3];
  }
  CK_FLAGS Flags(CK_SLOT_ID slot) {
    CK_TOKEN_INFO t;
    EXPECT_EQ(m.f->C_GetTokenInfo(slot, &t), CKR_OK);
    return t.flags;
  }
};

TEST_F(PinTest, ChangeSequenceCountsTriesAndLocksOut) {
  Ctl(L"insert 1 --tries 3 --pin-to-be-changed");
  CK_SESSION_HANDLE s = Open(1);
  struct Step {
    const char* oldPin;
    const char* newPin;
    CK_RV rv;
    int triesAfter;
  } steps[] = {
      {"246802", "12345", CKR_PIN_LEN_RANGE, 3},          // too short costs no try
      {"246802", "1234567890123", CKR_PIN_LEN_RANGE, 3},  // too long
      {"000000", "135790", CKR_PIN_INCORRECT, 2},
      {"246802", "135790", CKR_OK, 3},                    // success resets the tries
      {"246802", "111111", CKR_PIN_INCORRECT, 2},         // the old PIN is gone
      {"135790", "111111", CKR_OK, 3},
      {"999999", "222222", CKR_PIN_INCORRECT, 2},
      {"999999", "222222", CKR_PIN_INCORRECT, 1},
      {"999999", "222222", CKR_PIN_INCORRECT, 0},
      {"111111", "222222", CKR_PIN_LOCKED, 0},            // even the right PIN, once locked
  };
  for (const Step& st : steps) {
    EXPECT_EQ(Change(s, st.oldPin, st.newPin), st.rv) << st.oldPin << " -> " << st.newPin;
    EXPECT_EQ(TriesLeft(1), st.triesAfter) << st.oldPin << " -> " << st.newPin;
    if (st.rv == CKR_OK) {
      EXPECT_FALSE(Flags(1) & CKF_USER_PIN_TO_BE_CHANGED);
    }
  }
  EXPECT_TRUE(Flags(1) & CKF_USER_PIN_LOCKED);
}

TEST_F(PinTest, TryCounterFlagsAndBadPointers) {
  Ctl(L"insert 2 --tries 3");
  CK_SESSION_HANDLE s = Open(2);
  EXPECT_FALSE(Flags(2) & CKF_USER_PIN_COUNT_LOW);
  EXPECT_EQ(Change(s, "000000", "123456"), CKR_PIN_INCORRECT);
  EXPECT_TRUE(Flags(2) & CKF_USER_PIN_COUNT_LOW);
  EXPECT_EQ(Change(s, "000000", "123456"), CKR_PIN_INCORRECT);
  EXPECT_TRUE(Flags(2) & CKF_USER_PIN_FINAL_TRY);
  EXPECT_EQ(m.f->C_SetPIN(s, nullptr, 6, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>("123456")), 6),
            CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.f->C_SetPIN(s, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>("246802")), 6, nullptr, 6),
            CKR_ARGUMENTS_BAD);
  EXPECT_EQ(TriesLeft(2), 1) << "refused arguments cost no try";
}

TEST_F(PinTest, PinChangedHereIsSeenByTokenctlAndBack) {
  Ctl(L"insert 3");
  CK_SESSION_HANDLE s = Open(3);
  ASSERT_EQ(Change(s, "246802", "777777"), CKR_OK);
  Ctl(L"set 3 --pin 888888 --tries 2");
  EXPECT_EQ(TriesLeft(3), 2);
  EXPECT_EQ(Change(s, "777777", "123456"), CKR_PIN_INCORRECT);
  EXPECT_EQ(Change(s, "888888", "123456"), CKR_OK);
}

using VendorTest = ModuleTest;

TEST_F(VendorTest, PinInfoArguments) {
  Ctl(L"insert 1");
  CK_BYTE out[4] = {};
  ASSERT_EQ(m.aux->getPinInfo(1, out), CKR_OK);
  EXPECT_EQ(out[2], 6);
  EXPECT_EQ(out[3], 6);
  EXPECT_EQ(m.aux->getPinInfo(1, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.aux->getPinInfo(0, out), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(m.aux->getPinInfo(5, out), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(VendorTest, SetLabelWritesAllThirtyTwoBytesAndRaisesEight) {
  Ctl(L"insert 2");
  DrainEvents();
  CK_UTF8CHAR label[32];
  std::memset(label, ' ', sizeof label);
  std::memcpy(label, "Neues Etikett", 13);
  ASSERT_EQ(m.aux->setLabel(2, 0, 0, 0, label), CKR_OK);
  CK_TOKEN_INFO t;
  ASSERT_EQ(m.f->C_GetTokenInfo(2, &t), CKR_OK);
  EXPECT_EQ(std::memcmp(t.label, label, 32), 0);
  EXPECT_NE(Ctl(L"list").find("label=\"Neues Etikett\""), std::string::npos);
  CK_SLOT_ID slot = 0;
  CK_ULONG code = 0, data = 0;
  ASSERT_EQ(m.aux->waitForEvent(CKF_DONT_BLOCK, &slot, &code, &data, nullptr), CKR_OK);
  EXPECT_EQ(slot, 2u);
  EXPECT_EQ(code, static_cast<CK_ULONG>(TOKEN_EVT_LABEL_CHANGED));
  EXPECT_EQ(m.aux->setLabel(2, 0, 0, 0, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.aux->setLabel(6, 0, 0, 0, label), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(VendorTest, InitTokenResetsContentAndRaisesStartedThenSucceeded) {
  Ctl(L"insert 4 --pin-to-be-changed --tries 2");
  Ctl(L"add-cert 4 " + CertArg(L"sign.der"));
  DrainEvents();
  CK_SLOT_ID slot = 0;
  CK_ULONG data = 0;
  TokenInitParams p{};
  p.firmwareMajor = 3;
  p.firmwareMinor = 1;
  p.label = "Fresh";
  p.soPin = "pellam";
  p.userPin = "13579246";
  p.maxSoTries = 6;
  p.maxUserTries = 5;
  p.totalPublicMemory = 40000;
  p.totalPrivateMemory = 20000;
  ASSERT_EQ(m.aux->initToken(4, &p), CKR_OK);
  CK_ULONG codes[2] = {};
  for (CK_ULONG& c : codes) {
    ASSERT_EQ(m.aux->waitForEvent(CKF_DONT_BLOCK, &slot, &c, &data, nullptr), CKR_OK);
    EXPECT_EQ(slot, 4u);
  }
  EXPECT_EQ(codes[0], static_cast<CK_ULONG>(TOKEN_EVT_INIT));
  EXPECT_EQ(codes[1], static_cast<CK_ULONG>(TOKEN_EVT_INIT_OK));
  CK_TOKEN_INFO t;
  ASSERT_EQ(m.f->C_GetTokenInfo(4, &t), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t.label), 6), "Fresh ");
  EXPECT_EQ(t.firmwareVersion.major, 3);
  EXPECT_EQ(t.ulTotalPublicMemory, 40000u);
  EXPECT_FALSE(t.flags & CKF_USER_PIN_TO_BE_CHANGED);
  CK_BYTE tries[4];
  ASSERT_EQ(m.aux->getPinInfo(4, tries), CKR_OK);
  EXPECT_EQ(tries[2], 5);
  EXPECT_EQ(tries[3], 5);
  CK_SESSION_HANDLE s = Open(4);
  EXPECT_TRUE(Find(s, {}).empty());
  CK_UTF8CHAR oldPin[] = "13579246", newPin[] = "24680135";
  EXPECT_EQ(m.f->C_SetPIN(s, oldPin, 8, newPin, 8), CKR_OK);
  EXPECT_EQ(m.aux->initToken(4, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.aux->initToken(9, &p), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(VendorTest, DestroyObjectRaisesFourWithTheHandle) {
  Ctl(L"insert 5");
  DrainEvents();
  std::vector<CK_OBJECT_HANDLE> h = Handles(Ctl(L"add-cert 5 " + CertArg(L"enc.der") + L" --key none"));
  ASSERT_EQ(h.size(), 1u);
  CK_SLOT_ID slot = 0;
  CK_ULONG code = 0, data = 0;
  ASSERT_EQ(m.aux->waitForEvent(0, &slot, &code, &data, nullptr), CKR_OK);
  EXPECT_EQ(code, static_cast<CK_ULONG>(TOKEN_EVT_OBJECT_CREATED));
  EXPECT_EQ(data, h[0]);
  CK_SESSION_HANDLE ro = Open(5, CKF_SERIAL_SESSION), rw = Open(5);
  EXPECT_EQ(m.f->C_DestroyObject(ro, h[0]), CKR_SESSION_READ_ONLY);
  ASSERT_EQ(m.f->C_DestroyObject(rw, h[0]), CKR_OK);
  EXPECT_EQ(m.f->C_DestroyObject(rw, h[0]), CKR_OBJECT_HANDLE_INVALID);
  ASSERT_EQ(m.aux->waitForEvent(0, &slot, &code, &data, nullptr), CKR_OK);
  EXPECT_EQ(code, static_cast<CK_ULONG>(TOKEN_EVT_OBJECT_DESTROYED));
  EXPECT_EQ(data, h[0]);
}

}  // namespace
}  // namespace simtest
