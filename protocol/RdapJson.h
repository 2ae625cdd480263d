// RDAP's JSON, read through nlohmann-json without letting an exception
// out, and with type checks before every access: an answer comes from any
// server, and any member may be missing or of another type.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

using RdapJson = nlohmann::json;

// Real answers nest a dozen levels (an entity's vCard inside an entity
// inside a domain); deeper is an attack on the stack or the memory.
const int MaxRdapJsonDepth = 64;

enum class RdapParse {
    Parsed,
    NotJson,  // not JSON text at all
    TooDeep,  // nested deeper than MaxRdapJsonDepth
    NoMemory, // an allocation failed while parsing
};

// Parses `length` bytes of JSON into `value` (null unless Parsed).
RdapParse ParseRdapJson(const char* text, size_t length, RdapJson& value);
inline RdapParse ParseRdapJson(const std::string& text, RdapJson& value) {
    return ParseRdapJson(text.data(), text.size(), value);
}

// The member `name` of `object`, or null when `object` is no object or has
// no such member.
const RdapJson* JsonMember(const RdapJson& object, const char* name);
// The text of the member `name`, or empty when it is absent or no string.
std::string JsonText(const RdapJson& object, const char* name);
