#include "protocol/WhoisSettings.h"

#include "protocol/WhoisRequest.h"

const char SettingsKeyPath[] = "Software\\Tervask\\WhoIsProtocol";

namespace {

// A REG_DWORD value, or false when absent or of another type or size.
bool readNumber(HKEY key, LPCSTR name, DWORD& value) {
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
        return false;
    }
    value = data;
    return true;
}

void readTimeout(HKEY key, LPCSTR name, DWORD& timeout) {
    DWORD value = 0;
    if (readNumber(key, name, value) && value != 0 && value <= WhoisSettings::MaxTimeout) {
        timeout = value;
    }
}

void readServer(HKEY key, WhoisSettings& settings) {
    // Room for the longest address, a port and the NUL; a longer value is
    // refused by the registry (ERROR_MORE_DATA) and so ignored.
    char text[MaxServerNameLength + 16] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key, "DefaultServer", nullptr, &type, reinterpret_cast<LPBYTE>(text),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return;
    }
    // The stored size may or may not count a NUL; the text ends at the first.
    DWORD length = 0;
    while (length < size && text[length] != '\0') {
        ++length;
    }
    TextString host;
    DWORD port = DefaultWhoisPort;
    if (ParseServerAddress(text, length, DefaultWhoisPort, host, port)) {
        settings.defaultServer.Assign(host.GetText());
        settings.defaultPort = port;
    }
}

} // namespace

WhoisSettings::WhoisSettings()
    : defaultServer(DefaultWhoisServer), defaultPort(DefaultWhoisPort), followReferrals(true),
      connectTimeout(WhoisRequest::ConnectTimeout), receiveTimeout(WhoisRequest::ReceiveTimeout) {}

void WhoisSettings::Read() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    readServer(key, *this);
    DWORD follow = 1;
    if (readNumber(key, "FollowReferrals", follow)) {
        followReferrals = follow != 0;
    }
    readTimeout(key, "ConnectTimeout", connectTimeout);
    readTimeout(key, "ReceiveTimeout", receiveTimeout);
    RegCloseKey(key);
}
