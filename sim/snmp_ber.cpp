#include "sim/snmp_ber.h"

#include <charconv>

namespace kelo::sim {
namespace {

// One element: tag, and where its content lies inside the datagram.
struct Tlv {
    uint8_t tag = 0;
    const uint8_t* content = nullptr;
    size_t length = 0;
};

// Reads elements one after another from a bounded range; every length is checked against
// the octets that are really there.
class BerReader {
  public:
    BerReader(const uint8_t* bytes, size_t size) : next_(bytes), left_(size) {}
    explicit BerReader(const Tlv& outer) : next_(outer.content), left_(outer.length) {}

    bool AtEnd() const { return left_ == 0; }

    // Reads the next element; false when it is cut short or its form is not supported.
    bool Read(Tlv& out) {
        if (left_ < 2)
            return false;
        const uint8_t tag = next_[0];
        if ((tag & 0x1F) == 0x1F)
            return false;  // multi-octet tags are not used by SNMP
        const uint8_t first = next_[1];
        size_t header = 2;
        size_t length = first;
        if (first & 0x80) {
            const size_t count = first & 0x7F;
            // 0x80 is the indefinite form, which BER for SNMP never uses.
            if (count == 0 || count > 4 || left_ - 2 < count)
                return false;
            length = 0;
            for (size_t i = 0; i < count; ++i)
                length = (length << 8) | next_[2 + i];
            header += count;
        }
        if (left_ - header < length)
            return false;
        out.tag = tag;
        out.content = next_ + header;
        out.length = length;
        next_ += header + length;
        left_ -= header + length;
        return true;
    }

    // Reads the next element and insists on its tag.
    bool Read(uint8_t tag, Tlv& out) { return Read(out) && out.tag == tag; }

  private:
    const uint8_t* next_;
    size_t left_;
};

std::vector<uint8_t> ContentOf(const Tlv& tlv) {
    return std::vector<uint8_t>(tlv.content, tlv.content + tlv.length);
}

// Appends tag, length and content.
void AppendElement(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content) {
    out.push_back(tag);
    AppendBerLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

// Every name-value pair of the list; false when one is cut short or malformed.
bool ReadVarBinds(const Tlv& list, std::vector<SnmpVarBind>& varbinds) {
    BerReader reader(list);
    while (!reader.AtEnd()) {
        Tlv pair;
        Tlv name;
        Tlv value;
        if (!reader.Read(kBerSequence, pair))
            return false;
        BerReader inner(pair);
        if (!inner.Read(kBerObjectId, name) || name.length == 0 || !inner.Read(value))
            return false;
        varbinds.push_back({ContentOf(name), value.tag, ContentOf(value)});
    }
    return true;
}

// Reads the request's fields in their order; the name of the first that is missing or
// malformed, or null when all are there.
const char* ReadRequest(const uint8_t* datagram, size_t size, SnmpRequest& request) {
    BerReader top(datagram, size);
    Tlv message;
    if (!top.Read(kBerSequence, message))
        return "message";
    BerReader fields(message);
    Tlv version;
    Tlv community;
    Tlv pdu;
    if (!fields.Read(kBerInteger, version) || version.length == 0 || version.length > 8)
        return "version";
    if (!fields.Read(kBerOctetString, community))
        return "community";
    if (!fields.Read(pdu) || (pdu.tag & 0xE0) != 0xA0)
        return "pdu";
    BerReader pduFields(pdu);
    Tlv requestId;
    Tlv errorStatus;
    Tlv errorIndex;
    Tlv varbinds;
    if (!pduFields.Read(kBerInteger, requestId) || requestId.length == 0 || requestId.length > 4)
        return "request-id";
    if (!pduFields.Read(kBerInteger, errorStatus) || !pduFields.Read(kBerInteger, errorIndex))
        return "error-fields";
    if (!pduFields.Read(kBerSequence, varbinds))
        return "varbind-list";
    if (!ReadVarBinds(varbinds, request.varbinds))
        return "varbind";
    request.version = IntegerValue(ContentOf(version));
    request.community.assign(reinterpret_cast<const char*>(community.content), community.length);
    request.pduType = pdu.tag;
    request.requestId = ContentOf(requestId);
    request.requestIdValue = IntegerValue(request.requestId);
    return nullptr;
}

}  // namespace

void AppendBerLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t octets[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8)
        octets[count++] = rest & 0xFF;
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count > 0)
        out.push_back(octets[--count]);
}

std::vector<uint8_t> IntegerContent(long long value) {
    std::vector<uint8_t> octets;
    for (int shift = 56; shift >= 0; shift -= 8) {
        octets.push_back(static_cast<uint8_t>(static_cast<unsigned long long>(value) >> shift));
    }
    // Drop leading octets that only repeat the sign of the octet after them.
    size_t start = 0;
    while (start + 1 < octets.size() && ((octets[start] == 0x00 && !(octets[start + 1] & 0x80)) ||
                                         (octets[start] == 0xFF && (octets[start + 1] & 0x80)))) {
        ++start;
    }
    return std::vector<uint8_t>(octets.begin() + start, octets.end());
}

long long IntegerValue(const std::vector<uint8_t>& content) {
    if (content.empty() || content.size() > 8)
        return 0;
    unsigned long long value = (content[0] & 0x80) ? ~0ULL : 0ULL;
    for (uint8_t octet : content)
        value = (value << 8) | octet;
    return static_cast<long long>(value);
}

SnmpParse ParseSnmpRequest(const uint8_t* datagram, size_t size) {
    SnmpParse result;
    const char* reason = ReadRequest(datagram, size, result.request);
    result.ok = reason == nullptr;
    if (reason != nullptr)
        result.reason = reason;
    return result;
}

std::vector<uint8_t> EncodeGetResponse(const SnmpRequest& request, int errorStatus, int errorIndex,
                                       const std::vector<SnmpVarBind>& varbinds) {
    std::vector<uint8_t> list;
    for (const SnmpVarBind& varbind : varbinds) {
        std::vector<uint8_t> pair;
        AppendElement(pair, kBerObjectId, varbind.name);
        AppendElement(pair, varbind.valueTag, varbind.value);
        AppendElement(list, kBerSequence, pair);
    }
    std::vector<uint8_t> pdu;
    AppendElement(pdu, kBerInteger, request.requestId);
    AppendElement(pdu, kBerInteger, IntegerContent(errorStatus));
    AppendElement(pdu, kBerInteger, IntegerContent(errorIndex));
    AppendElement(pdu, kBerSequence, list);

    std::vector<uint8_t> message;
    AppendElement(message, kBerInteger, IntegerContent(request.version));
    AppendElement(message, kBerOctetString,
                  std::vector<uint8_t>(request.community.begin(), request.community.end()));
    AppendElement(message, kPduGetResponse, pdu);

    std::vector<uint8_t> out;
    AppendElement(out, kBerSequence, message);
    return out;
}

std::string OidText(const std::vector<uint8_t>& content) {
    if (content.empty())
        return "";
    std::string text;
    const unsigned first = content[0];
    if (first & 0x80)
        return "";  // a first sub-identifier above 127 is not used here
    const unsigned top = first < 40 ? 0 : (first < 80 ? 1 : 2);
    text = "." + std::to_string(top) + "." + std::to_string(first - top * 40);
    unsigned long long arc = 0;
    bool inArc = false;
    for (size_t i = 1; i < content.size(); ++i) {
        arc = (arc << 7) | (content[i] & 0x7F);
        inArc = true;
        if (arc > 0xFFFFFFFFULL)
            return "";  // sub-identifiers are 32-bit
        if (!(content[i] & 0x80)) {
            text += "." + std::to_string(arc);
            arc = 0;
            inArc = false;
        }
    }
    return inArc ? "" : text;  // the last octet must end its sub-identifier
}

std::vector<uint8_t> OidContent(std::string_view dotted) {
    if (!dotted.empty() && dotted.front() == '.')
        dotted.remove_prefix(1);
    std::vector<unsigned long> arcs;
    while (!dotted.empty()) {
        unsigned long arc = 0;
        const char* end = dotted.data() + dotted.size();
        auto [stop, error] = std::from_chars(dotted.data(), end, arc);
        if (error != std::errc() || arc > 0xFFFFFFFFUL)
            return {};
        arcs.push_back(arc);
        dotted.remove_prefix(stop - dotted.data());
        if (dotted.empty())
            break;
        if (dotted.front() != '.' || dotted.size() == 1)
            return {};
        dotted.remove_prefix(1);
    }
    // The first two arcs share one octet below 128, as OidText reads them: the second arc is
    // below 40 under the arcs 0 and 1, and up to 47 under 2.
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40) ||
        (arcs[0] * 40 + arcs[1]) > 127) {
        return {};
    }
    std::vector<uint8_t> content{static_cast<uint8_t>(arcs[0] * 40 + arcs[1])};
    for (size_t i = 2; i < arcs.size(); ++i) {
        uint8_t groups[5];
        size_t count = 0;
        unsigned long rest = arcs[i];
        do {
            groups[count++] = rest & 0x7F;
            rest >>= 7;
        } while (rest != 0);
        while (count > 1)
            content.push_back(static_cast<uint8_t>(0x80 | groups[--count]));
        content.push_back(groups[0]);
    }
    return content;
}

}  // namespace kelo::sim
