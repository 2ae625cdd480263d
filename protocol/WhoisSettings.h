// The user's settings of the whois flow, under
// HKEY_CURRENT_USER\Software\Tervask\WhoIsProtocol. Each request reads them
// once; an absent key or value, or one that is damaged, means its default,
// never a failure.
#pragma once

#include "support/TextString.h"

extern const char SettingsKeyPath[];
// IANA's RDAP bootstrap files.
extern const char DefaultRdapBootstrap[];

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
    // PreferRdap (REG_DWORD, 1 is on): the simple shape asks RDAP first
    // whenever the bootstrap files name a service for the query, rather
    // than only when port 43 gives no answer.
    bool preferRdap;
    // RdapBootstrap (REG_SZ): the base URL of the RDAP bootstrap files
    // (dns.json, ipv4.json, ipv6.json, asn.json); empty turns RDAP off.
    TextString rdapBootstrap;
    // RdapCaFile (REG_SZ, native build only): the PEM file of the
    // authorities trusted for https; empty means the system's.
    TextString rdapCaFile;

    // The longest time-out a setting may ask for: ten minutes. Beyond that
    // a value is a mistake, not a wish to wait.
    static const DWORD MaxTimeout = 600000;
    // The longest text setting kept (a URL or a file name); a longer value
    // is ignored.
    static const DWORD MaxTextSetting = 1024;

    WhoisSettings(); // the defaults
    // Reads the settings; what is absent or damaged keeps its default.
    void Read();
};
