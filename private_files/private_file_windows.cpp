// Secret files on Windows: a new file's access list already admits its owner
// alone (Qt makes it from the permissions asked), and nothing is handed on.
// Who may read a file is told by its access list: Qt's permissions say
// nothing true of that on Windows.

#include "private_file.h"

#include <QFile>
#include <aclapi.h>
#include <windows.h>

namespace relais {

std::optional<QString> settlePrivateFile(QFile& file, const QString&) {
    file.flush();
    return std::nullopt;
}

namespace {

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

} // namespace

bool othersMayRead(const QString& path) {
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring name = path.toStdWString();
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return true;
    }
    bool others = acl == nullptr; // no list at all: everyone may
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount && !others; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            continue;
        }
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        const auto sid = static_cast<PSID>(&allowed->SidStart);
        const ACCESS_MASK reading = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
        if ((allowed->Mask & reading) == 0 || EqualSid(sid, owner) ||
            isWellKnown(sid, WinLocalSystemSid) || isWellKnown(sid, WinBuiltinAdministratorsSid)) {
            continue;
        }
        others = true;
    }
    LocalFree(descriptor);
    return others;
}

} // namespace relais
