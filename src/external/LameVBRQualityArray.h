// The VBR qualities the MP3 options offer: a name, the encoder switches it stands for and the
// bit rate it gives on average.
#pragma once

#include "foundation/ZrString.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct CLameVBRQuality {
    ZrString Name;
    ZrString Switches;
    int32_t EstimatedKbps;
};

class CLameVBRQualityArray {
public:
    static constexpr size_t DefaultIndex = 2; // "Normal"

    CLameVBRQualityArray()
        : m_rows{{u"Small Portable", u"-V 6 --vbr-new", 132},
                 {u"High Quality Portable", u"-V 5 --vbr-new", 145},
                 {u"Normal", u"-V 4 --vbr-new", 165},
                 {u"High", u"-V 2 --vbr-new", 230},
                 {u"Extreme", u"-V 0 --vbr-new", 270}} {}

    size_t Count() const { return m_rows.size(); }
    const CLameVBRQuality& operator[](size_t index) const { return m_rows[index]; }

    // The first row whose switches are exactly `commandLine` (case and blanks count); -1 when
    // none is.
    int32_t Find(const ZrString& commandLine) const {
        for (size_t i = 0; i < m_rows.size(); ++i)
            if (m_rows[i].Switches == commandLine)
                return static_cast<int32_t>(i);
        return -1;
    }
    // The row a stored command line stands for: its own, or the default row.
    const CLameVBRQuality& RowFor(const ZrString& commandLine) const {
        const int32_t found = Find(commandLine);
        return m_rows[found < 0 ? DefaultIndex : static_cast<size_t>(found)];
    }

private:
    std::vector<CLameVBRQuality> m_rows;
};
