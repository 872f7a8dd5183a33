// tokenctl's commands. Each validates all of its arguments before it changes anything, and returns the
// process exit code: 0 done, 2 bad argument or file (message on standard error), 1 other failure.
#pragma once

#include "store.h"

#include <memory>
#include <string>
#include <vector>

namespace tokenctl {

using Args = std::vector<std::wstring>;  // the whole command line, argv[1] is the command word

int CmdInsert(const Args& a);
int CmdRemove(const Args& a);
int CmdAddCert(const Args& a);
int CmdDelete(const Args& a);
int CmdEvent(const Args& a);
int CmdSet(const Args& a);
int CmdList(const Args& a);
int CmdReset(const Args& a);
int CmdFail(const Args& a);
int CmdWatch(const Args& a);
int CmdLatency(const Args& a);
int CmdSessions(const Args& a);

int BadArgument(const std::string& message);
// The state folder's store; prints why on failure.
std::unique_ptr<simtoken::Store> OpenStore();
// Loads the slot's token for a command that needs one: 0, or the exit code after printing why not.
int LoadExisting(const simtoken::Store& store, CK_SLOT_ID slot, simtoken::Token* t);

}  // namespace tokenctl
