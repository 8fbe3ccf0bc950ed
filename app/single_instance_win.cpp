// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <memory>

#include "app/single_instance.h"
#include "platform/user_folders.h"

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

constexpr qsizetype kSecretDigits = 32;

QString ReadSecret(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString key = QString::fromLatin1(file.read(kSecretDigits + 1));
    if (key.size() != kSecretDigits)
        return {};
    for (const QChar c : key)
        if (!c.isDigit() && (c < QLatin1Char('a') || c > QLatin1Char('f')))
            return {};
    return key;
}

// 128 random bits of the user's own, kept in the user's profile, which other users cannot
// read. Made once; two starts making it at the same moment agree on whichever landed first.
QString UserSecret() {
    const std::string folder = UserCacheFolder();
    if (folder.empty() || !QDir().mkpath(QString::fromStdString(folder)))
        return {};
    const QString path = QString::fromStdString(InUserFolder(folder, "instance.key"));
    if (QString key = ReadSecret(path); !key.isEmpty())
        return key;
    QString key;
    for (int i = 0; i < 4; ++i)
        key += QStringLiteral("%1").arg(QRandomGenerator::system()->generate(), 8, 16,
                                        QLatin1Char('0'));
    QTemporaryFile fresh(path + QStringLiteral(".XXXXXX"));
    if (!fresh.open() || fresh.write(key.toLatin1()) != kSecretDigits || !fresh.flush())
        return {};
    fresh.close();
    if (QFile::exists(path) && ReadSecret(path).isEmpty())
        QFile::remove(path);  // damaged: replaced
    if (fresh.rename(path))
        fresh.setAutoRemove(false);
    return ReadSecret(path);  // ours, or the one that got there first
}

}  // namespace

// Pipes live in one namespace for everybody, where whoever comes first may take any name: the
// name carries the user's SID and a secret only the user can read, so nobody else can take it
// first, and the pipe's server is also checked to be run by the same user before anything is
// handed over.
QString PrivateSocketFolder() {
    const QString sid = UserOfProcess(GetCurrentProcess());
    const QString secret = sid.isEmpty() ? QString() : UserSecret();
    return secret.isEmpty() ? QString() : QStringLiteral("velindra-%1-%2").arg(sid, secret);
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
