// The HTTP side of the JPIP client without a network: reply-header rules, the window
// text, frame sizes and the append function's limits.
#include "R2IVuzi/JpipHttp.h"

#include <gtest/gtest.h>

#include <string>

TEST(JpipHttp, HeaderRules)
{
    const std::string block = "HTTP/1.1 200 OK\r\n  JPIP-cnew : path=img,cid=A1,transport=http\r\n"
                              "Transfer-Encoding: Chunked\r\nX-Two: a:b\r\n";
    std::string cid, path;
    jpipParseCnew(jpipHeaderValue(block, "jpip-cnew"), cid, path);
    EXPECT_EQ(cid, "A1");
    EXPECT_EQ(path, "img");
    EXPECT_TRUE(jpipIsChunked(jpipHeaderValue(block, "Transfer-Encoding")));
    EXPECT_FALSE(jpipIsChunked("gzip, chunked"));
    EXPECT_FALSE(jpipIsChunked(jpipHeaderValue(block, "Content-Length")));
    // The line is cut at every ":", so a value ends at the next one.
    EXPECT_EQ(jpipHeaderValue(block, "x-two"), "a");
    // The first matching line wins; a tab cuts a line.
    EXPECT_EQ(jpipHeaderValue("A: 1\nA: 2\n", "a"), "1");
    EXPECT_EQ(jpipHeaderValue("A: 1\tB: 2\n", "b"), "2");

    cid.clear();
    path.clear();
    jpipParseCnew("CID=x=y,Path=p", cid, path);
    EXPECT_EQ(cid, "x=y");
    EXPECT_EQ(path, "");
    jpipParseCnew("path=first,cid=c1,path=second", cid, path);
    EXPECT_EQ(cid, "c1");
    EXPECT_EQ(path, "second");
}

TEST(JpipHttp, WindowTexts)
{
    const int a[5] = {2, 0, 0, 249, 99};
    int w = 0, h = 0;
    jpipFrameSize(0, 0, 2000, 1500, 2, w, h);
    EXPECT_EQ(jpipWindowText(a, w, h), "&roff=0,0&rsiz=250,100&fsiz=500,375,closest");
    const int b[5] = {1, 100, 100, 100, 100};
    jpipFrameSize(0, 0, 2000, 1500, 1, w, h);
    EXPECT_EQ(jpipWindowText(b, w, h), "&roff=100,100&rsiz=2,2&fsiz=1000,750,closest");
    const int c[5] = {0, 0, 0, 0, 0};
    EXPECT_EQ(jpipWindowText(c, 2, 2), "&roff=0,0&rsiz=2,2&fsiz=2,2,closest");
    // ceil(262 / 4) - ceil(11 / 4) = 63, ceil(210 / 4) - ceil(13 / 4) = 49.
    jpipFrameSize(11, 13, 251, 197, 2, w, h);
    EXPECT_EQ(w, 63);
    EXPECT_EQ(h, 49);
    jpipFrameSize(0, 0, 5, 3, 1, w, h); // ceil(5 / 2), ceil(3 / 2)
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(3, 2));
}

TEST(JpipHttp, AppendRefusesPastItsLimit)
{
    JpipBuffer buffer(10);
    char bytes[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    EXPECT_EQ(jpipAppend(bytes, 2, 3, &buffer), 6u);
    EXPECT_EQ(std::string(buffer.data()), "abcdef");
    EXPECT_EQ(jpipAppend(bytes, 1, 5, &buffer), 0u);
    EXPECT_EQ(buffer.size(), 6u);
    EXPECT_EQ(jpipAppend(bytes, 4, 1, &buffer), 4u);
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(buffer.data()[10], 0);
    EXPECT_EQ(jpipAppend(bytes, SIZE_MAX / 2, 3, &buffer), 0u);
    buffer.release();
    EXPECT_EQ(buffer.size(), 0u);
}
