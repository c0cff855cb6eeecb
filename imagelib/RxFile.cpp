#include "imagelib/RxFile.h"

RxFile::~RxFile() {}

bool RxFile::PutC(unsigned char c)
{
    return Write(&c, 1, 1) == 1;
}
