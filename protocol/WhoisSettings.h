// The user's settings of the whois flow, under
// HKEY_CURRENT_USER\Software\Tervask\WhoIsProtocol. Each request reads them
// once; an absent key or value, or one that is damaged, means its default,
// never a failure.
#pragma once

#include "support/TextString.h"

extern const char SettingsKeyPath[];

struct WhoisSettings {
    // DefaultServer (REG_SZ: host, host:port, [v6] or [v6]:port): asked by
    // URLs of the simple shape.
    TextString defaultServer;
    DWORD defaultPort;
    // FollowReferrals (REG_DWORD, 0 is off): whether the simple shape
    // follows the servers a reply refers to.
    bool followReferrals;
    // ConnectTimeout and ReceiveTimeout (REG_DWORD, milliseconds); 0 or
    // more than MaxTimeout means the default.
    DWORD connectTimeout;
    DWORD receiveTimeout;

    // The longest time-out a setting may ask for: ten minutes. Beyond that
    // a value is a mistake, not a wish to wait.
    static const DWORD MaxTimeout = 600000;

    WhoisSettings(); // the defaults
    // Reads the settings; what is absent or damaged keeps its default.
    void Read();
};
