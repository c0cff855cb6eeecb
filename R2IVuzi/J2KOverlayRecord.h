// The overlay layout of one image: the items configured for its modality, with the
// values read for it, grouped by where they are drawn in the cell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A prefix and suffix around an item's text.
struct OverlayTextPair {
    std::u16string prefix;
    std::u16string suffix;
};

// One configured tag with its value for the image.
struct OverlayItem {
    int32_t order = 0;
    std::string group;
    std::string element;
    std::u16string prefix;
    std::u16string suffix;
    std::u16string value;
    std::string vr;
};

// One configured tag as read: its anchor (eighths of the cell), its offsets and its item.
struct OverlayLayoutEntry {
    int32_t column = 0;
    int32_t row = 0;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    OverlayItem item;
};

// An item's drawn text, split where prefix and suffix meet it.
struct OverlayTextTriple {
    std::u16string prefix;
    std::u16string text;
    std::u16string suffix;
};

// Items on one line from one anchor, drawn in ascending order number.
class CJ2KOverlayRecord {
public:
    CJ2KOverlayRecord(int32_t column, int32_t row, int32_t line, int32_t direction);
    CJ2KOverlayRecord(const CJ2KOverlayRecord& other);
    CJ2KOverlayRecord& operator=(const CJ2KOverlayRecord& other);

    bool matches(int32_t column, int32_t row, int32_t line, int32_t direction) const;
    // Keeps the items sorted; equal order numbers keep insertion order.
    void addItem(const OverlayItem& item);

    int32_t column() const { return m_column; }
    int32_t row() const { return m_row; }
    int32_t line() const { return m_line; }
    // 1: rightwards from the anchor; 0: leftwards.
    int32_t direction() const { return m_direction; }
    const std::vector<OverlayItem>& items() const { return m_items; }

private:
    int32_t m_column;
    int32_t m_row;
    int32_t m_line;
    int32_t m_direction;
    std::vector<OverlayItem> m_items;
};
