#include "R2IVuzi/J2KOverlayRecord.h"

#include <algorithm>

namespace {

OverlayItem copyItem(const OverlayItem& from)
{
    OverlayItem to;
    to.order = from.order;
    to.group = from.group;
    to.element = from.element;
    to.prefix = from.prefix;
    to.suffix = from.suffix;
    to.value = from.value;
    to.vr = from.vr;
    return to;
}

} // namespace

CJ2KOverlayRecord::CJ2KOverlayRecord(int32_t column, int32_t row, int32_t line, int32_t direction)
    : m_column(column), m_row(row), m_line(line), m_direction(direction)
{
}

CJ2KOverlayRecord::CJ2KOverlayRecord(const CJ2KOverlayRecord& other)
    : m_column(other.m_column), m_row(other.m_row), m_line(other.m_line), m_direction(other.m_direction)
{
    m_items.reserve(other.m_items.size());
    for (const OverlayItem& item : other.m_items)
        m_items.push_back(copyItem(item));
}

CJ2KOverlayRecord& CJ2KOverlayRecord::operator=(const CJ2KOverlayRecord& other)
{
    if (this != &other) {
        CJ2KOverlayRecord copy(other);
        m_column = copy.m_column;
        m_row = copy.m_row;
        m_line = copy.m_line;
        m_direction = copy.m_direction;
        m_items.swap(copy.m_items);
    }
    return *this;
}

bool CJ2KOverlayRecord::matches(int32_t column, int32_t row, int32_t line, int32_t direction) const
{
    return m_column == column && m_row == row && m_line == line && m_direction == direction;
}

void CJ2KOverlayRecord::addItem(const OverlayItem& item)
{
    m_items.push_back(copyItem(item));
    std::stable_sort(m_items.begin(), m_items.end(),
        [](const OverlayItem& a, const OverlayItem& b) { return a.order < b.order; });
}
