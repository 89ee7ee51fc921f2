// The pipe's name: the user's SID, so that each user has a channel of their own.

#include "pipe_channel.h"

#include <windows.h>

#include <sddl.h>

namespace relais::pipe {

QString channelName() {
    QString sid = QStringLiteral("unbekannt");
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        QByteArray buffer(int(size), '\0');
        if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            LPWSTR text = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                       &text)) {
                sid = QString::fromWCharArray(text);
                LocalFree(text);
            }
        }
        CloseHandle(token);
    }
    return QStringLiteral("relaiskarte-") + sid;
}

} // namespace relais::pipe
