#include "snmp/snmp_codec.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace kelo::snmp {
namespace {

// The largest content a short-form length can announce.
constexpr int kShortFormLimit = 127;

// Writes a message back to front: every element goes in reversed behind the elements
// nested inside it, so each length is known when it is written. Finish turns the whole
// buffer round once.
class ReverseWriter {
  public:
    explicit ReverseWriter(uint8_t* buffer) : buffer_(buffer) {}

    int Position() const { return position_; }
    void Octet(int value) { buffer_[position_++] = static_cast<uint8_t>(value); }
    // Octets that read forward once the buffer is reversed.
    void Octets(const uint8_t* data, int count) {
        for (int i = count; i-- > 0;)
            Octet(data[i]);
    }
    // The short-form length of everything written since start, then the tag.
    void Header(int tag, int start) {
        Octet(position_ - start);
        Octet(tag);
    }
    // A one-octet INTEGER (version, error-status, error-index).
    void SmallInteger(int value) {
        Octet(value);
        Octet(1);
        Octet(kTagInteger);
    }
    int Finish() {
        std::reverse(buffer_, buffer_ + position_);
        return position_;
    }

  private:
    uint8_t* buffer_;
    int position_ = 0;
};

// Reads an answer front to back; every step is refused when it would pass the octets
// received.
class AnswerReader {
  public:
    AnswerReader(const uint8_t* data, int size) : data_(data), size_(std::max(size, 0)) {}

    int Remaining() const { return size_ - position_; }
    const uint8_t* Here() const { return data_ + position_; }

    bool Skip(int count) {
        if (count < 0 || count > Remaining())
            return false;
        position_ += count;
        return true;
    }
    bool Octet(int& value) {
        if (Remaining() < 1)
            return false;
        value = data_[position_++];
        return true;
    }
    // A content length in short form (the octet itself) or long form (the low 7 bits count
    // the big-endian octets that follow). A length that claims more octets than remain is
    // refused.
    bool Length(int& value) {
        int first = 0;
        if (!Octet(first))
            return false;
        long long length = first;
        if (first & 0x80) {
            length = 0;
            for (int count = first & 0x7F; count > 0; --count) {
                int octet = 0;
                if (!Octet(octet))
                    return false;
                length = length * 256 + octet;
                if (length > size_)
                    return false;
            }
        }
        if (length > Remaining())
            return false;
        value = static_cast<int>(length);
        return true;
    }
    // An element's tag and content length, leaving the reader where its content starts.
    bool ElementHeader(int& tag, int& length, const uint8_t*& content) {
        if (!Octet(tag) || !Length(length))
            return false;
        content = Here();
        return true;
    }

  private:
    const uint8_t* data_;
    int size_;
    int position_ = 0;
};

// Step 1 of the walk for a constructed element: skip its tag, read and check its length.
bool SkipHeader(AnswerReader& reader) {
    int length = 0;
    return reader.Skip(1) && reader.Length(length);
}

// Appends one sub-identifier in base 128, most significant group first, bit 7 set on every
// octet but the last.
int PutSubIdentifier(uint32_t value, uint8_t* out, int used, int capacity) {
    int groups = 1;
    while (groups < 5 && (value >> (7 * groups)) != 0)
        ++groups;
    if (used + groups > capacity)
        return -1;
    for (int i = groups - 1; i >= 0; --i) {
        const uint8_t group = static_cast<uint8_t>((value >> (7 * i)) & 0x7F);
        out[used++] = static_cast<uint8_t>(i > 0 ? group | 0x80 : group);
    }
    return used;
}

// The value in the fewest two's-complement octets, big-endian.
int MinimalInteger(int value, uint8_t* out) {
    const uint32_t bits = static_cast<uint32_t>(value);
    uint8_t octets[4] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                         static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    int first = 0;
    // A leading octet is redundant when it only repeats the sign bit of the next one.
    while (first < 3 && ((octets[first] == 0x00 && !(octets[first + 1] & 0x80)) ||
                         (octets[first] == 0xFF && (octets[first + 1] & 0x80)))) {
        ++first;
    }
    const int count = 4 - first;
    std::memcpy(out, octets + first, static_cast<size_t>(count));
    return count;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Writes, back to front: the value, the name, the VarBind and variable-bindings headers,
// error-index, error-status, request-id, the PDU header, community, version and the message
// header.
std::vector<uint8_t> BuildRequest(const char* oid, const RequestHeader& header, int valueTag,
                                  const uint8_t* value, int valueLength) {
    uint8_t name[kMaxOidContent];
    const int nameLength = EncodeOid(oid, name, kMaxOidContent);
    if (nameLength < 1)
        return {};
    // The message's content: version (3), community, the PDU header (2), request-id (6),
    // error-status and error-index (6), the two sequence headers (4), the name and the value
    // with their headers.
    const int communityLength = static_cast<int>(header.community.size());
    const int content = 3 + 2 + communityLength + 2 + 6 + 6 + 4 + 2 + nameLength + 2 + valueLength;
    if (content > kShortFormLimit)
        return {};

    std::vector<uint8_t> request(static_cast<size_t>(content) + 2);
    ReverseWriter out(request.data());
    int start = out.Position();
    out.Octets(value, valueLength);
    out.Header(valueTag, start);
    start = out.Position();
    out.Octets(name, nameLength);
    out.Header(kTagObjectId, start);
    out.Header(kTagSequence, 0);  // VarBind
    out.Header(kTagSequence, 0);  // variable-bindings
    out.SmallInteger(0);          // error-index
    out.SmallInteger(0);          // error-status
    for (int shift = 0; shift < 32; shift += 8)
        out.Octet(static_cast<int>(header.requestId >> shift));
    out.Octet(4);
    out.Octet(kTagInteger);
    out.Header(header.pduType, 0);
    out.Octets(reinterpret_cast<const uint8_t*>(header.community.data()), communityLength);
    out.Octet(communityLength);
    out.Octet(kTagOctetString);
    out.SmallInteger(0);  // version-1
    out.Header(kTagSequence, 0);
    out.Finish();
    return request;
}

}  // namespace

std::vector<uint8_t> BuildGetRequest(const char* oid, const RequestHeader& header) {
    return BuildRequest(oid, header, kTagNull, nullptr, 0);
}

std::vector<uint8_t> BuildSetRequest(const char* oid, int value, const RequestHeader& header) {
    uint8_t content[4];
    const int count = MinimalInteger(value, content);
    return BuildRequest(oid, header, kTagInteger, content, count);
}

// Arcs are runs of digits; whatever is not a digit before an arc separates. The first two
// arcs share the first octet (40 * first + second); encoding ends at the end of the text or
// at white space after an arc. Text that names no object this way is refused rather than
// encoded as another one: a single arc, a first arc above 2, a second arc of 40 or more under
// the first arcs 0 and 1, a first octet above 127 (the first sub-identifier fits one octet
// here), or an arc beyond 32 bits.
int EncodeOid(const char* text, uint8_t* out, int capacity) {
    int used = 0;
    int arc = 0;
    const char* p = text;
    while (true) {
        while (*p != '\0' && !IsDigit(*p))
            ++p;
        if (*p == '\0')
            break;
        uint64_t value = 0;
        for (; IsDigit(*p); ++p) {
            value = value * 10 + static_cast<uint64_t>(*p - '0');
            if (value > UINT32_MAX)
                return -1;
        }
        if (arc == 0) {
            if (capacity < 1 || value > 2)
                return -1;
            out[used++] = static_cast<uint8_t>(value * 40);
        } else if (arc == 1) {
            if ((out[0] < 80 && value >= 40) || out[0] + value > 0x7F)
                return -1;
            out[0] = static_cast<uint8_t>(out[0] + value);
        } else {
            used = PutSubIdentifier(static_cast<uint32_t>(value), out, used, capacity);
            if (used < 0)
                return -1;
        }
        ++arc;
        if (*p == '\0' || IsSpace(*p))
            break;
    }
    return arc == 1 ? -1 : used;
}

// The fixed steps: message header; version header and its one-octet value; community
// header and the community (an agent echoes the request's, of whatever length); PDU tag and
// length; request-id; error-status and error-index; variable-bindings and VarBind headers;
// the name; the value.
bool ParseMessage(const uint8_t* message, int length, SnmpVarBind& fields) {
    fields = SnmpVarBind{};
    AnswerReader in(message, length);
    int communityLength = 0;
    int pduLength = 0;
    if (!SkipHeader(in) || !SkipHeader(in) || !in.Skip(1) || !in.Skip(1) ||
        !in.Length(communityLength) || !in.Skip(communityLength) || !in.Skip(1))
        return false;
    fields.pdu_type = in.Here()[-1];  // the PDU tag
    if (!in.Length(pduLength))
        return false;

    int idLength = 0;
    if (!in.Octet(fields.request_id_tag) || !in.Octet(idLength) || idLength > in.Remaining())
        return false;
    fields.request_id_length = idLength;
    // Big-endian; a short negative value is sign-extended to 32 bits.
    const uint8_t* idData = in.Here();
    uint32_t id = 0;
    for (int i = 0; i < idLength; ++i)
        id = (id << 8) | idData[i];
    if (idLength > 0 && idLength < 4 && (idData[0] & 0x80) != 0)
        id |= ~0u << (8 * idLength);
    fields.request_id = static_cast<int32_t>(id);
    if (!in.Skip(idLength))
        return false;

    if (!in.Skip(2) || !in.Octet(fields.error_status) || !in.Skip(2) ||
        !in.Octet(fields.error_index)) {
        return false;
    }
    if (!SkipHeader(in) || !SkipHeader(in))
        return false;

    if (!in.ElementHeader(fields.oidname_type, fields.oidname_length, fields.oidname_data) ||
        !in.Skip(fields.oidname_length))
        return false;
    return in.ElementHeader(fields.oidvalue_type, fields.oidvalue_length, fields.oidvalue_data);
}

std::string ValueTextOf(int type, const uint8_t* data, int length) {
    switch (type) {
        case kTagInteger: {
            // Unsigned, big-endian; with more than four octets the last four count.
            uint32_t value = 0;
            for (int i = 0; i < length; ++i)
                value = (value << 8) | data[i];
            char text[32];
            std::snprintf(text, sizeof text, "0x%x(%d)", value, static_cast<int>(value));
            return text;
        }
        case kTagOctetString: {
            std::string text = "\"";
            for (int i = 0; i < length; ++i) {
                if (data[i] != 0)
                    text += static_cast<char>(data[i]);
            }
            return text + '"';
        }
        case kTagNull:
            return "";
        default:
            return "Unknown ASN.1 object type";
    }
}

// The first octet holds the first two arcs (40 * first + second, the first arc at most 2);
// every further arc is a base-128 sub-identifier, bit 7 set on all its octets but the last.
std::string OidText(const uint8_t* data, int length) {
    if (data == nullptr || length < 1)
        return "";
    const int first = std::min(data[0] / 40, 2);
    std::string text = "." + std::to_string(first) + "." + std::to_string(data[0] - 40 * first);
    uint64_t arc = 0;
    for (int i = 1; i < length; ++i) {
        arc = (arc << 7) | (data[i] & 0x7F);
        if ((data[i] & 0x80) == 0) {
            text += "." + std::to_string(arc);
            arc = 0;
        }
    }
    return text;
}

}  // namespace kelo::snmp
