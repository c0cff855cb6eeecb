#include "imagelib/RxFile.h"

RxFile::~RxFile() {}

bool RxFile::PutC(unsigned char c)
{
    return Write(&c, 1, 1) == 1;
}

long RxFile::BytesLeft()
{
    const long size = Size(), position = Tell();
    if (size < 0 || position < 0)
        return -1;
    return size > position ? size - position : 0;
}
