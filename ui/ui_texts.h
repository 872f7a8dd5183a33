// The texts of the Certificate Manager window and of the windows it opens itself: tray, notifications,
// usage reminders, Set Notifier and the expiry warning.
#pragma once

#include "text_table.h"

// Where an id carries two defaults, each default has an entry of its own.
#define VD_UI_TEXTS(X)                                                                                        \
  X(kMessageCaption, 102, L"Certificate Manager")                                                             \
  X(kWindowTitle, 1019, L"Opalix Certificate Manager")                                                        \
  X(kSetNotifierButton, 200115, L"&Set Notifier")                                                             \
  X(kReadyTip, 11000, L"Certificate Register is ready")                                                       \
  X(kReadyTipAfterShellRestart, 11000, L"Certificate Manager is ready")                                       \
  X(kPollingTip, 11003, L"Certificate Register is ready (watching the tokens by polling)")                    \
  X(kLoadFailed, 11001, L"Failed to load PKCS#11 library, please check your installation")                    \
  X(kMonitorFailed, 11002, L"Can not start USBKey monitor, the certificate register works unperfectly")       \
  X(kInserted, 10000, L"USBKey is inserted!")                                                                 \
  X(kRemoved, 10001, L"USBkey is removed!")                                                                   \
  X(kPublicKey, 10002, L"Public Key")                                                                         \
  X(kPrivateKey, 10003, L"Private Key")                                                                       \
  X(kCertificate, 10004, L"Certificate")                                                                      \
  X(kSaving, 10005, L"Saving %s, please wait...")                                                             \
  X(kSaved, 10006, L"%s is saved successfully!")                                                              \
  X(kSaveFailed, 10007, L"Failed to save %s!")                                                                \
  X(kGeneratingKeys, 10008, L"Generating key pair, please wait...")                                           \
  X(kKeysGenerated, 10009, L"Generated key pair successfully!")                                               \
  X(kKeyGenerationFailed, 10010, L"Failed to generated key pair!")                                            \
  X(kLowLevelInitializing, 10011, L"Low level initializing the USBKey, please wait...")                       \
  X(kLowLevelInitialized, 10012, L"USBKey is Low level initialized successfully!")                            \
  X(kLowLevelInitFailed, 10013, L"Failed to low loevel initialize USBKey!")                                   \
  X(kInitializing, 10014, L"initializing the USBKey, please wait...")                                         \
  X(kInitialized, 10015, L"USBKey is initialized successfully!")                                              \
  X(kInitFailed, 10016, L"Failed to initialize USBKey!")                                                      \
  X(kNoCertificate, 61211, L"No Certificate")                                                                 \
  X(kPinChanged, 5006, L"Change user PIN successfully!")                                                      \
  X(kPinTokenRemoved, 5001, L"The token has been removed.")                                                   \
  X(kPinBlocked, 5004, L"This token has been blocked! Contact your administrator to unblock it.")             \
  X(kPinLastChance, 5009,                                                                                     \
    L"Incorrect PIN.\r\nNow it's the last chance to try.\r\nIf the PIN is still incorrect, the token will be locked") \
  X(kPinTriesLeft, 5008, L"Invalid Password!\r\nYou now have %d Chances")                                     \
  X(kPinTriesUnreadable, 5005, L"Change User PIN failed!error code:0x%08x")                                   \
  X(kPinChangeFailed, 5005, L"Change user PIN failed!Error code:0x%08x")                                      \
  X(kNotifierEnable, 200110, L"Set Notifier")                                                                 \
  X(kNotifierInterval, 200111, L"Interval of Notifier")                                                       \
  X(kNotifierMinutes, 200112, L"Minutes")                                                                     \
  X(kNotifierTitle, 200118, L"Set Notifier")                                                                  \
  X(kUsedMinutes, 200113, L"Certificate Manager\n\n\n\nYour USBKey has been used for %d minute(s)")           \
  X(kUsedHours, 200114, L"Certificate Manager\n\n\n\nYour USBKey has been used for %d hour(s) %d minute(s)")  \
  X(kExpiresInDays, 90000,                                                                                    \
    L"The certificate saved in the USBKey will be expired in %d Day, please renew the certificate!")          \
  X(kExpired, 90001, L"The certificate saved in the USBKey is expired, please renew the certificate!")

namespace vd {
VD_TEXT_TABLE(ui_text, VD_UI_TEXTS)
}  // namespace vd
