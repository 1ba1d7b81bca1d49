#include "hooklib/process_user.h"

#include "host/win32_handles.h"

namespace quillon {
namespace {

using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A TOKEN_USER with room for the largest SID.
struct TokenUserBuffer {
  alignas(TOKEN_USER) BYTE data[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(data)->User.Sid; }
};

bool ReadTokenUser(HANDLE process, TokenUserBuffer& user) {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &opened)) return false;
  const KernelHandle token(opened);
  DWORD length = 0;
  return GetTokenInformation(token.Get(), ::TokenUser, user.data, sizeof user.data, &length) != 0;
}

// The owner's token user, read through the least access that allows it; some systems want
// the full query right for the token.
bool ReadTokenUserOf(DWORD processId, TokenUserBuffer& user) {
  for (const DWORD access :
       {DWORD{PROCESS_QUERY_LIMITED_INFORMATION}, DWORD{PROCESS_QUERY_INFORMATION}}) {
    const KernelHandle process(OpenProcess(access, FALSE, processId));
    if (process && ReadTokenUser(process.Get(), user)) return true;
  }
  return false;
}

}  // namespace

bool RunsAsOwnerOfWindow(HWND window) {
  DWORD processId = 0;
  if (GetWindowThreadProcessId(window, &processId) == 0 || processId == 0) return false;
  if (processId == GetCurrentProcessId()) return true;
  TokenUserBuffer own;
  TokenUserBuffer owner;
  if (!ReadTokenUser(GetCurrentProcess(), own) || !ReadTokenUserOf(processId, owner)) {
    return false;
  }
  return EqualSid(own.sid(), owner.sid()) != 0;
}

}  // namespace quillon
