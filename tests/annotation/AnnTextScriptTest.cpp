// The stored text against an independent reader and writer (tools/ann_text.py).
#include "AnnTestSupport.h"

#include <gtest/gtest.h>

using namespace anntest;

namespace {

const char* const kMixedListing =
    "COrbelAnnContainer version=1017 count=4\n"
    "COrbelAnnLine complete=1 creating=0 selected=1 imageStart.x=-5 imageStart.y=7 "
    "imageEnd.x=268435456 imageEnd.y=-268435456\n"
    "COrbelAnnRectangle complete=0 creating=1 selected=0 x1=-268435456 y1=3 x2=40 y2=268435456\n"
    "COrbelAnnArrow complete=1 selected=1\n"
    "  shaft: COrbelAnnLine complete=1 creating=1 selected=0 imageStart.x=100 imageStart.y=-100 "
    "imageEnd.x=-2147483648 imageEnd.y=2147483647\n"
    "  wing1: COrbelAnnLine complete=0 creating=1 selected=0 imageStart.x=0 imageStart.y=0 imageEnd.x=9 imageEnd.y=8\n"
    "  wing2: COrbelAnnLine complete=0 creating=1 selected=1 imageStart.x=0 imageStart.y=0 imageEnd.x=0 imageEnd.y=0\n"
    "COrbelAnnArrowMark type=10 complete=1 selected=0\n"
    "  arrow: COrbelAnnArrow complete=0 selected=0\n"
    "    shaft: COrbelAnnLine complete=0 creating=1 selected=0 imageStart.x=12 imageStart.y=34 "
    "imageEnd.x=56 imageEnd.y=-78\n"
    "    wing1: COrbelAnnLine complete=0 creating=1 selected=0 imageStart.x=0 imageStart.y=0 imageEnd.x=0 imageEnd.y=0\n"
    "    wing2: COrbelAnnLine complete=0 creating=1 selected=0 imageStart.x=0 imageStart.y=0 imageEnd.x=0 imageEnd.y=0\n";

} // namespace

TEST(AnnTextScript, IndependentReaderAgreesBothWays)
{
    COrbelAnnContainer mixed;
    FillMixed(mixed);
    const std::string text = Store(mixed);
    EXPECT_EQ(RunScript("decode", text), kMixedListing);
    EXPECT_EQ(RunScript("encode", kMixedListing), text + "\n");

    COrbelAnnContainer back;
    EXPECT_EQ(Load(text, back), "");
    EXPECT_EQ(Store(back), text);
}
