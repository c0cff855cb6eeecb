// Walks an image's pixel rows for the codecs: row numbers count from the bottom row (0),
// and SetY accepts y = height as an end pointer that is never written through.
#pragma once

#include "imagelib/RxImage.h"

class CImageIterator {
public:
    explicit CImageIterator(RxImage* image) : ima(image), y(0), row(image ? image->GetBits(0) : nullptr) {}

    // To the top row.
    void Upset() { SetY(long(ima->GetHeight()) - 1); }

    BYTE* SetY(long newY)
    {
        if (ima && ima->GetBits(0) && newY >= 0 && newY <= long(ima->GetHeight())) {
            y = newY;
            row = ima->GetBits(0) + size_t(ima->GetEffWidth()) * size_t(newY);
        }
        return row;
    }

    // One row down; false once the bottom row has been passed.
    bool PrevRow()
    {
        if (y <= 0)
            return false;
        --y;
        row -= ima->GetEffWidth();
        return true;
    }

    BYTE* GetRow() const { return row; }
    long GetY() const { return y; }

private:
    RxImage* ima;
    long y;
    BYTE* row;
};
