#include "protocol/RdapPage.h"

#include "protocol/RdapJson.h"

#include <cstring>
#include <vector>

namespace {

// How much of a body a failure line shows, of a URL its line, and of the
// reason a failure line: escaped, each line stays within the stream's
// longest line.
const size_t ShownBodyBytes = 100;
const size_t ShownUrlBytes = 160;
const size_t ShownReasonBytes = 180;
// A value longer than this is shown cut: a page holds many values.
const size_t MaxValueBytes = 4096;
// Entities nest (a registrar's abuse contact); deeper ones are left out.
const int MaxEntityDepth = 3;

// Control bytes (line ends among them) become blanks, so that a value stays
// on its line.
std::string flattened(const std::string& text, size_t limit) {
    std::string flat = text.substr(0, limit);
    for (char& c : flat) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    if (text.size() > limit) {
        flat += "...";
    }
    return flat;
}

// A JSON value as text: a string as it is, a number or true/false written
// out, an array's items joined by blanks; anything else is empty.
std::string plainText(const RdapJson& value) {
    if (value.is_string()) {
        return value.get_ref<const std::string&>();
    }
    if (value.is_number() || value.is_boolean()) {
        return value.dump();
    }
    std::string joined;
    if (value.is_array()) {
        for (const RdapJson& item : value) {
            std::string part = item.is_string() || item.is_number() ? plainText(item) : "";
            if (!part.empty()) {
                joined += (joined.empty() ? "" : " ") + part;
            }
        }
    }
    return joined;
}

std::string memberText(const RdapJson& object, const char* name) {
    const RdapJson* member = JsonMember(object, name);
    return member != nullptr ? plainText(*member) : std::string();
}

// The array member `name`, or an empty array when absent or of another type.
const RdapJson& arrayMember(const RdapJson& object, const char* name) {
    static const RdapJson Empty = RdapJson::array();
    const RdapJson* member = JsonMember(object, name);
    return member != nullptr && member->is_array() ? *member : Empty;
}

class PageWriter {
public:
    explicit PageWriter(SocketStream& target) : stream(target) {}

    bool Full() const { return stream.WasCut(); }
    void Html(const std::string& line) { stream.KeepLine(line.c_str()); }
    // "LABEL: VALUE" on a line of its own, indented by `depth` steps; an
    // empty value gives no line.
    void Field(int depth, const char* label, const std::string& value) {
        if (value.empty()) {
            return;
        }
        std::string line = std::string(size_t(depth) * 2, ' ') + label +
                           (*label != '\0' ? ": " : "") + flattened(value, MaxValueBytes) + "\n";
        stream.KeepReceived(line.data(), int(line.size()));
    }

private:
    SocketStream& stream;
};

// The events a reader looks for, in the order shown; others follow them.
const char* const KnownEvents[][2] = {{"registration", "Registration"},
                                      {"expiration", "Expiration"},
                                      {"last changed", "Last changed"}};

bool isKnownEvent(const std::string& action) {
    for (const auto& known : KnownEvents) {
        if (action == known[0]) {
            return true;
        }
    }
    return false;
}

void writeEvents(PageWriter& out, const RdapJson& object) {
    const RdapJson& events = arrayMember(object, "events");
    for (const auto& known : KnownEvents) {
        for (const RdapJson& event : events) {
            if (JsonText(event, "eventAction") == known[0]) {
                out.Field(0, known[1], JsonText(event, "eventDate"));
            }
        }
    }
    for (const RdapJson& event : events) {
        std::string action = JsonText(event, "eventAction");
        if (!action.empty() && !isKnownEvent(action)) {
            out.Field(0, ("Event " + flattened(action, 60)).c_str(), JsonText(event, "eventDate"));
        }
    }
}

// The vCard properties a reader wants: name, organisation, e-mail, telephone.
void writeVcard(PageWriter& out, int depth, const RdapJson& entity) {
    const RdapJson& card = arrayMember(entity, "vcardArray");
    if (card.size() < 2 || !card[1].is_array()) {
        return;
    }
    static const char* const Properties[][2] = {
        {"fn", "Name"}, {"org", "Organisation"}, {"email", "E-mail"}, {"tel", "Telephone"}};
    for (const auto& property : Properties) {
        for (const RdapJson& line : card[1]) {
            // [name, parameters, type, value...]
            if (line.is_array() && line.size() >= 4 && line[0].is_string() &&
                line[0].get_ref<const std::string&>() == property[0]) {
                out.Field(depth, property[1], plainText(line[3]));
            }
        }
    }
}

std::string joinedStrings(const RdapJson& list) {
    std::string joined;
    for (const RdapJson& item : list) {
        if (item.is_string()) {
            joined += (joined.empty() ? "" : ", ") + item.get_ref<const std::string&>();
        }
    }
    return joined;
}

void writeEntities(PageWriter& out, int depth, const RdapJson& object);

void writeEntity(PageWriter& out, int depth, const RdapJson& entity) {
    std::string roles = joinedStrings(arrayMember(entity, "roles"));
    out.Field(depth, "Entity",
              memberText(entity, "handle").empty()
                  ? (roles.empty() ? "(no handle)" : "(" + roles + ")")
                  : memberText(entity, "handle") + (roles.empty() ? "" : " (" + roles + ")"));
    writeVcard(out, depth + 1, entity);
    for (const RdapJson& id : arrayMember(entity, "publicIds")) {
        std::string type = JsonText(id, "type");
        out.Field(depth + 1, type.empty() ? "Public ID" : flattened(type, 60).c_str(),
                  JsonText(id, "identifier"));
    }
    if (depth + 1 < MaxEntityDepth) {
        writeEntities(out, depth + 1, entity);
    }
}

void writeEntities(PageWriter& out, int depth, const RdapJson& object) {
    for (const RdapJson& entity : arrayMember(object, "entities")) {
        if (out.Full()) {
            return;
        }
        writeEntity(out, depth, entity);
    }
}

void writeNameservers(PageWriter& out, const RdapJson& object) {
    for (const RdapJson& server : arrayMember(object, "nameservers")) {
        std::string name = JsonText(server, "ldhName");
        const RdapJson* addresses = JsonMember(server, "ipAddresses");
        if (addresses != nullptr) {
            std::string listed = joinedStrings(arrayMember(*addresses, "v4"));
            std::string v6 = joinedStrings(arrayMember(*addresses, "v6"));
            listed += (listed.empty() || v6.empty() ? "" : ", ") + v6;
            name += listed.empty() ? "" : " (" + listed + ")";
        }
        out.Field(0, "Name server", name);
    }
}

void writeSecureDns(PageWriter& out, const RdapJson& object) {
    const RdapJson* secure = JsonMember(object, "secureDNS");
    if (secure == nullptr || !secure->is_object()) {
        return;
    }
    const RdapJson* signedDelegation = JsonMember(*secure, "delegationSigned");
    if (signedDelegation != nullptr && signedDelegation->is_boolean()) {
        out.Field(0, "DNSSEC", signedDelegation->get<bool>() ? "signed delegation" : "unsigned");
    }
    for (const RdapJson& ds : arrayMember(*secure, "dsData")) {
        out.Field(1, "DS",
                  "key tag " + memberText(ds, "keyTag") + ", algorithm " +
                      memberText(ds, "algorithm") + ", digest type " +
                      memberText(ds, "digestType") + ", digest " + memberText(ds, "digest"));
    }
}

// Remarks and notices: a title, then each line of the description.
void writeNotes(PageWriter& out, const RdapJson& object, const char* member, const char* label) {
    for (const RdapJson& note : arrayMember(object, member)) {
        if (out.Full()) {
            return;
        }
        std::string title = JsonText(note, "title");
        out.Field(0, label, title.empty() ? "(untitled)" : title);
        for (const RdapJson& line : arrayMember(note, "description")) {
            out.Field(1, "", plainText(line));
        }
    }
}

void writeObject(PageWriter& out, const RdapJson& object) {
    out.Field(0, "Name", memberText(object, "ldhName"));
    out.Field(0, "Unicode name", memberText(object, "unicodeName"));
    out.Field(0, "Name", memberText(object, "name"));
    out.Field(0, "Handle", memberText(object, "handle"));
    std::string start = memberText(object, "startAddress");
    if (!start.empty()) {
        out.Field(0, "Range", start + " - " + memberText(object, "endAddress"));
    }
    std::string first = memberText(object, "startAutnum");
    if (!first.empty()) {
        out.Field(0, "Range", "AS" + first + " - AS" + memberText(object, "endAutnum"));
    }
    out.Field(0, "Type", memberText(object, "type"));
    out.Field(0, "Country", memberText(object, "country"));
    out.Field(0, "Parent handle", memberText(object, "parentHandle"));
    out.Field(0, "Status", joinedStrings(arrayMember(object, "status")));
    writeEvents(out, object);
    writeEntities(out, 0, object);
    writeNameservers(out, object);
    writeSecureDns(out, object);
    writeNotes(out, object, "remarks", "Remark");
    writeNotes(out, object, "notices", "Notice");
}

std::string relatedLink(const RdapJson& object) {
    for (const RdapJson& link : arrayMember(object, "links")) {
        if (JsonText(link, "rel") == "related" && JsonText(link, "type") == RdapMediaType &&
            !JsonText(link, "href").empty()) {
            return JsonText(link, "href");
        }
    }
    return std::string();
}

void writeFailure(PageWriter& out, const std::string& reason) {
    out.Html("<p><B>RDAP gave no answer</B></p>");
    out.Html("<p><I>" + RdapShownText(reason, ShownReasonBytes) + "</I></p>");
}

std::string statusAndBody(const char* what, const RdapAnswer& answer) {
    return std::string(what) + " (HTTP status " + std::to_string(answer.status) +
           "): " + answer.body.substr(0, ShownBodyBytes) +
           (answer.body.size() > ShownBodyBytes ? "..." : "");
}

} // namespace

std::string RdapShownText(const std::string& text, size_t limit) {
    std::string flat = flattened(text, limit);
    std::vector<char> escaped(flat.size() * 5 + 1);
    DWORD length = EscapeHtml(flat.data(), DWORD(flat.size()), escaped.data());
    return std::string(escaped.data(), length);
}

bool WriteRdapAnswer(SocketStream& stream, const RdapAnswer& answer, std::string* related) {
    PageWriter out(stream);
    out.Html("<B>RDAP answer from " + RdapShownText(answer.url, ShownUrlBytes) + "</B>");
    if (!answer.finalUrl.empty() && answer.finalUrl != answer.url) {
        out.Html("<I>Redirected to " + RdapShownText(answer.finalUrl, ShownUrlBytes) + "</I>");
    }
    if (!answer.failure.empty()) {
        writeFailure(out, answer.failure + (answer.systemDetail.empty()
                                                ? std::string()
                                                : " (" + answer.systemDetail + ")"));
        return false;
    }
    if (answer.status < 200 || answer.status > 299) {
        writeFailure(out, statusAndBody("The RDAP server refused the question", answer));
        return false;
    }
    RdapJson object;
    RdapParse parsed = ParseRdapJson(answer.body.data(), answer.body.size(), object);
    if (parsed == RdapParse::TooDeep) {
        writeFailure(out, "The RDAP answer is nested too deeply to be read.");
        return false;
    }
    if (parsed != RdapParse::Parsed || JsonText(object, "objectClassName").empty()) {
        writeFailure(out, statusAndBody("Not an RDAP answer", answer));
        return false;
    }
    writeObject(out, object);
    if (related != nullptr) {
        *related = relatedLink(object);
    }
    return true;
}
