// Every way an image comes to be presented, over the loopback server: the annotation
// loader's thread merges a reply (or fails to) while the user-interface thread opens and
// decodes the image. Whatever the order, each image is presented exactly once.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/R2IVuzi/support/PresentationFixture.h"
#include "tests/diagnostics/LogTestSupport.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

namespace {

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

// The status bitmap's own pixels (black is its transparent key) at the cell's lower left,
// painted without the overlay texts that share that corner.
bool showsFailureMark(gridtest::PresentationCell& cell)
{
    const gridtest::Bitmap mark = gridtest::readBitmap(229);
    const RECT v = cell.grid->getViewRect();
    g_showOverlay = false;
    cell.paint();
    g_showOverlay = true;
    int lit = 0;
    for (int y = 0; y < mark.height; ++y)
        for (int x = 0; x < mark.width; ++x) {
            const COLORREF p = mark.pixels[size_t(y) * mark.width + x];
            if (p == RGB(0, 0, 0))
                continue;
            ++lit;
            if (gridtest::pixelAt(cell.frame->m_hWnd, v.left + 2 + x, v.bottom - mark.height - 2 + y) != p)
                return false;
        }
    return lit > 0;
}

class PresentationConcurrency : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    }
};

} // namespace

TEST_F(PresentationConcurrency, EveryTriggerPresentsOnce)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("pydicom", "python3-pydicom");
    const std::string& dir = gridtest::presentationDir();
    ASSERT_FALSE(dir.empty());
    const gridtest::PresentationExpected& expected = gridtest::presentationExpected();
    const struct {
        const char* name;
        const char* annotated; // null: no attribute
        std::vector<std::string> server;
        size_t requests;       // annotation requests the server saw
        bool failed;           // the annotation-failed flag and its bitmap
        const char* window;    // null: the document's window
        const char* logged;    // a record the case must leave, or null
    } cases[] = {
        {"reply adds a window", "False", {"--annotation-default", dir + "/reply_window.xml"}, 1, false,
         expected.replyWindow.c_str(), "Configure PSSI with required annotation done!"},
        {"marked annotated", "True", {}, 0, false, nullptr, nullptr},
        {"no annotated mark", nullptr, {}, 0, false, nullptr, nullptr},
        {"server fails until the give-up", "False", {"--fault", "status:code=500,on=annotation"}, 6, true, nullptr,
         "Error to receive response from annotation server"},
        {"reply is not XML", "False", {"--annotation-default", dir + "/not_xml.txt"}, 1, false, nullptr,
         "Error when parse annotation XML"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logStart = readLog().size();
        gridtest::PresentationCell cell(c.annotated, c.server);
        ASSERT_TRUE(cell.showPresented());
        if (c.failed) {
            ASSERT_TRUE(cell.until([&] { return cell.grid->isAnnotationFailed(); }));
        }
        EXPECT_EQ(cell.serverLines("\"kind\": \"annotation\"").size(), c.requests);
        EXPECT_EQ(cell.grid->isAnnotationFailed(), c.failed);
        EXPECT_EQ(showsFailureMark(cell), c.failed);
        std::string window;
        cell.image()->getImageBase().GetWindowLevelText(window);
        EXPECT_EQ(window, c.window ? std::string(c.window) : expected.window);
        const std::string log = readLog().substr(logStart);
        EXPECT_EQ(count(log, "prepareDicomLUT"), 1u) << log;
        if (c.logged) {
            EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        }
    }
}
