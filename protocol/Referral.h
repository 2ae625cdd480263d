// Where a whois reply says to ask next. Three styles are understood:
//   refer: HOST        and   whois: HOST     (IANA's records)
//   Registrar WHOIS Server: HOST             (thin registries)
//   ReferralServer: whois://HOST             (regional internet registries)
// HOST is a name or address with an optional ":PORT", an IPv6 literal in
// brackets ("[::1]:4343"). Keys match in any ASCII case, with blanks before
// the key and around the value; other schemes (rwhois://) are not followed.
#pragma once

#include "support/TextString.h"

// Lines longer than this are no referral: real ones are short, and a long
// line is more likely a server's attempt to smuggle one in.
const DWORD MaxReferralLineLength = 512;

// Finds the first referral in the `length` bytes of `reply`; true with
// `host` and `port` (43 when the line names none) set, false when no line
// holds a well-formed one.
[[nodiscard]] bool FindReferral(const char* reply, DWORD length, TextString& host, DWORD& port);
