// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <QLocalSocket>
#include <memory>

#include "single_instance.h"

namespace velindra {

namespace {

// The user a process token belongs to, as a SID string; empty when it cannot be read.
QString UserOfProcess(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buffer = std::make_unique<char[]>(size);
    QString sid;
    LPWSTR text = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer.get(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

}  // namespace

// Pipes live in one namespace for everybody: the name carries the user's SID, and the pipe's
// server is checked to be run by the same user before anything is handed over.
QString PrivateSocketFolder() {
    const QString sid = UserOfProcess(GetCurrentProcess());
    return sid.isEmpty() ? QString() : QStringLiteral("velindra-") + sid;
}

// Both ends of the pipe, the server and the client, whichever of them this process is.
bool PeerIsThisUser(const QLocalSocket& socket) {
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    const QString me = UserOfProcess(GetCurrentProcess());
    ULONG ends[2] = {0, 0};
    if (me.isEmpty() || !GetNamedPipeServerProcessId(pipe, &ends[0]) ||
        !GetNamedPipeClientProcessId(pipe, &ends[1]))
        return false;
    for (const ULONG pid : ends) {
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process)
            return false;
        const QString owner = UserOfProcess(process);
        CloseHandle(process);
        if (owner != me)
            return false;
    }
    return true;
}

}  // namespace velindra
