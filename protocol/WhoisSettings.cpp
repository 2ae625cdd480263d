#include "protocol/WhoisSettings.h"

#include "protocol/WhoisRequest.h"

const char SettingsKeyPath[] = "Software\\Tervask\\WhoIsProtocol";
const char DefaultRdapBootstrap[] = "https://data.iana.org/rdap/";

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

// A REG_SZ value into `text` (room for `room` bytes, NUL included), or false
// when absent, of another type, or too long (the registry refuses it with
// ERROR_MORE_DATA). Returns its length, up to the first NUL: the stored size
// may or may not count one.
bool readText(HKEY key, LPCSTR name, char* text, DWORD room, DWORD& length) {
    DWORD type = REG_NONE;
    DWORD size = room - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    text[size] = '\0';
    length = 0;
    while (length < size && text[length] != '\0') {
        ++length;
    }
    return true;
}

void readServer(HKEY key, WhoisSettings& settings) {
    // Room for the longest address, a port and the NUL.
    char text[MaxServerNameLength + 16] = {};
    DWORD length = 0;
    if (!readText(key, "DefaultServer", text, sizeof text, length)) {
        return;
    }
    TextString host;
    DWORD port = DefaultWhoisPort;
    if (ParseServerAddress(text, length, DefaultWhoisPort, host, port)) {
        settings.defaultServer.Assign(host.GetText());
        settings.defaultPort = port;
    }
}

void readTextSetting(HKEY key, LPCSTR name, TextString& setting) {
    char text[WhoisSettings::MaxTextSetting + 1] = {};
    DWORD length = 0;
    if (readText(key, name, text, sizeof text, length)) {
        setting.Assign(text);
    }
}

} // namespace

WhoisSettings::WhoisSettings()
    : defaultServer(DefaultWhoisServer), defaultPort(DefaultWhoisPort), followReferrals(true),
      connectTimeout(WhoisRequest::ConnectTimeout), receiveTimeout(WhoisRequest::ReceiveTimeout),
      preferRdap(false), rdapBootstrap(DefaultRdapBootstrap), rdapCaFile("") {}

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
    DWORD prefer = 0;
    if (readNumber(key, "PreferRdap", prefer)) {
        preferRdap = prefer != 0;
    }
    readTextSetting(key, "RdapBootstrap", rdapBootstrap);
    readTextSetting(key, "RdapCaFile", rdapCaFile);
    RegCloseKey(key);
}
