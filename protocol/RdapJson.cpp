#include "protocol/RdapJson.h"

#include <new>

RdapParse ParseRdapJson(const char* text, size_t length, RdapJson& value) {
    value = nullptr;
    bool tooDeep = false;
    // The parser keeps its own stack (no recursion), and the callback drops
    // whatever lies deeper than the limit as soon as it starts, so that a
    // hostile nesting costs neither stack nor memory.
    auto limitDepth = [&tooDeep](int depth, RdapJson::parse_event_t event, RdapJson&) {
        if (depth > MaxRdapJsonDepth && (event == RdapJson::parse_event_t::object_start ||
                                         event == RdapJson::parse_event_t::array_start)) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    try {
        RdapJson parsed = RdapJson::parse(text, text + length, limitDepth, false);
        if (tooDeep) {
            return RdapParse::TooDeep;
        }
        if (parsed.is_discarded()) {
            return RdapParse::NotJson;
        }
        value = std::move(parsed);
        return RdapParse::Parsed;
    } catch (const std::bad_alloc&) {
        return RdapParse::NoMemory;
    } catch (...) {
        return RdapParse::NotJson;
    }
}

const RdapJson* JsonMember(const RdapJson& object, const char* name) {
    if (!object.is_object()) {
        return nullptr;
    }
    auto found = object.find(name);
    return found != object.end() ? &*found : nullptr;
}

std::string JsonText(const RdapJson& object, const char* name) {
    const RdapJson* member = JsonMember(object, name);
    return member != nullptr && member->is_string() ? member->get_ref<const std::string&>()
                                                    : std::string();
}
