// Byte builders for the resources a filter module carries, in the forms a
// host reads: little-endian integers, four-character codes as little-endian
// 32-bit integers, length-prefixed strings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace resource_bytes {

inline uint32_t Code(const char (&text)[5])
{
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

class Bytes {
public:
    Bytes &U8(uint8_t v)
    {
        data.push_back(v);
        return *this;
    }
    Bytes &U16(uint16_t v) { return U8(uint8_t(v)).U8(uint8_t(v >> 8)); }
    Bytes &U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
    Bytes &Code(const char (&text)[5]) { return U32(resource_bytes::Code(text)); }
    Bytes &Pascal(const std::string &s)
    {
        U8(uint8_t(s.size()));
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes &C(const std::string &s)
    {
        data.insert(data.end(), s.begin(), s.end());
        return U8(0);
    }
    Bytes &Append(const std::vector<uint8_t> &more)
    {
        data.insert(data.end(), more.begin(), more.end());
        return *this;
    }
    Bytes &PadTo4()
    {
        while (data.size() % 4 != 0)
            U8(0);
        return *this;
    }
    std::vector<uint8_t> data;
};

// A property list: the header, then each property with vendor 8BIM and id
// 0, its data padded to 4 unless told otherwise.
class PropertyListBytes {
public:
    PropertyListBytes &Add(const char (&key)[5], Bytes value, bool pad = true)
    {
        if (pad)
            value.PadTo4();
        body_.Code("8BIM").Code(key).U32(0).U32(uint32_t(value.data.size())).Append(value.data);
        ++count_;
        return *this;
    }
    std::vector<uint8_t> Build(uint32_t version = 0) const
    {
        return Bytes().U16(1).U32(version).U32(count_).Append(body_.data).data;
    }

private:
    Bytes body_;
    uint32_t count_ = 0;
};

// The filter's published property list, with the x64 entry point when asked.
inline PropertyListBytes FilterPropertyList(const std::string &scope, bool withX64Entry)
{
    Bytes cases;
    for (int c = 0; c < 7; ++c)
        cases.U8(4).U8(4).U8(6).U8(0);
    PropertyListBytes list;
    list.Add("kind", Bytes().Code("8BFM"))
        .Add("name", Bytes().Pascal("Umbrolux..."))
        .Add("catg", Bytes().Pascal("Korvane"))
        .Add("vers", Bytes().U32(4u << 16))
        .Add("wx86", Bytes().C("PluginMain"));
    if (withX64Entry)
        list.Add("8664", Bytes().C("PluginMain"));
    list.Add("mode", Bytes().U8(0x5F).U8(0xC0).U8(0).U8(0))
        .Add("hstm", Bytes().U32(0).Code("kvr1").Code("kvr1").U16(16000).C(scope))
        .Add("enbl", Bytes().C("in (PSHOP_ImageMode, RGBMode, RGB48Mode)"))
        .Add("fici", cases);
    return list;
}

// The filter's published scripting terminology.
inline std::vector<uint8_t> FilterTerminology()
{
    Bytes b;
    b.U16(1).U8(1).U8(0).U16(0).U16(0).U16(1);
    b.Pascal("Korvane").Pascal("Korvane Shadow recovery plugin").Code("kvr1").U16(1).U16(1).U16(1);
    b.Pascal("Umbrolux").Pascal("Umbrolux plugin").Code("kvr1").Code("kvr1");
    b.Code("null").Pascal("").U16(0);
    b.Code("#ImR").Pascal("").U16(0xB000);
    b.U16(3);
    b.Pascal("amount").Code("Amnt").Code("doub").Pascal("dissolve amount").U16(0x0000);
    b.Pascal("disposition").Code("disP").Code("mooD").Pascal("dissolve disposition").U16(0x2000);
    b.Pascal("ignore selection").Code("ignS").Code("bool").Pascal("filter entire image").U16(0x0000);
    b.U16(0).U16(0).U16(1);
    b.Code("mooD").U16(4);
    b.Pascal("clear").Code("moD0").Pascal("clear headed");
    b.Pascal("cool").Code("moD1").Pascal("got the blues");
    b.Pascal("hot").Code("moD2").Pascal("red-faced");
    b.Pascal("sick").Code("moD3").Pascal("green with envy");
    return b.data;
}

} // namespace resource_bytes
