#include "core/utf8.h"

#include <algorithm>
#include <iterator>

namespace velindra {

Utf8Lead ReadUtf8Lead(int lead) {
    Utf8Lead info;
    if (lead >= 0xC2 && lead <= 0xDF) {
        info.count = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        info.count = 2;
        if (lead == 0xE0)
            info.firstMin = 0xA0;
        if (lead == 0xED)
            info.firstMax = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        info.count = 3;
        if (lead == 0xF0)
            info.firstMin = 0x90;
        if (lead == 0xF4)
            info.firstMax = 0x8F;
    }
    return info;
}

size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    const Utf8Lead info = ReadUtf8Lead(lead);
    const size_t length = static_cast<size_t>(info.count) + 1;
    if (info.count == 0 || i + length > s.size())
        return 0;
    cp = lead & (0x3F >> info.count);
    for (size_t k = 1; k < length; ++k) {
        const int b = byte(i + k);
        const int min = k == 1 ? info.firstMin : 0x80;
        const int max = k == 1 ? info.firstMax : 0xBF;
        if (b < min || b > max)
            return 0;
        cp = (cp << 6) | static_cast<uint32_t>(b & 0x3F);
    }
    return length;
}

std::string EncodeUtf8(uint32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return out;
}

namespace {

struct FoldRun {
    uint32_t first, last;
    int32_t offset;
    uint32_t step;
};

constexpr FoldRun kFoldRuns[] = {
#include "case_folding.inc"
};

}  // namespace

uint32_t FoldCase(uint32_t cp) {
    // The runs are in order and do not overlap: the last one starting at or before cp.
    const FoldRun* run = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), cp,
                                          [](uint32_t c, const FoldRun& r) { return c < r.first; });
    if (run == std::begin(kFoldRuns))
        return cp;
    --run;
    if (cp > run->last || (cp - run->first) % run->step != 0)
        return cp;
    return static_cast<uint32_t>(static_cast<int32_t>(cp) + run->offset);
}

std::string FoldCase(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    ForEachCharacter(text, [&](std::string_view bytes, uint32_t cp, bool valid) {
        folded += valid ? EncodeUtf8(FoldCase(cp)) : std::string(bytes);
    });
    return folded;
}

}  // namespace velindra
