// Presentation from a PSSI document whose values were written by hand
// (tests/data/pssi/pssi.xml): the logged steps, the DICOM values, lookup tables and
// stored texts an image takes from it, and what a failing step leaves behind.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/diagnostics/LogTestSupport.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <fstream>
#include <iterator>

namespace {

std::string fixture()
{
    std::ifstream in(std::string(ORBEL_TEST_DATA_DIR) + "/pssi/pssi.xml", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TiXmlElement* imageById(CPssiXmlDao& dao, const std::string& id)
{
    TiXmlElement* series =
        dao.getRootElement()->FirstChildElement("Patient")->FirstChildElement("Study")->FirstChildElement("Series");
    for (TiXmlElement* e = series->FirstChildElement("Image"); e; e = e->NextSiblingElement("Image"))
        if (e->Attribute("id") && id == e->Attribute("id"))
            return e;
    return nullptr;
}

// Where the last of the records ends when they occur in the order given from `from` on; npos otherwise.
size_t findInOrder(const std::string& log, const std::vector<std::string>& records, size_t from = 0)
{
    for (const std::string& r : records) {
        from = log.find(r, from);
        if (from == std::string::npos)
            return from;
        from += r.size();
    }
    return from;
}

const std::vector<std::string> kSteps = {"Start Presentation", "prepareOverlayInfo", "prepareDicomLUT",
                                         "prepareDicomInfo", "prepareImageStatus", "prepareImageAnnotation"};

class Presentation : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    }
    // Registers image `id` of the (edited) fixture and sends it WM_APP + 8.
    boost::shared_ptr<CJ2KImage> present(gridtest::GridHarness& h, const std::string& pssi, const std::string& id)
    {
        auto dao = h.frame->getPssiXmlDao();
        dao->parsePssi(pssi);
        image_.reset(new CJ2KImage(id, "1.2.3", imageById(*dao, id)));
        dao->registerImage(id, image_);
        h.grid->setImage(image_);
        send(h, id);
        return image_;
    }
    void send(gridtest::GridHarness& h, const std::string& target)
    {
        SendMessageW(h.grid->m_hWnd, WM_J2K_START_PRESENTATION, reinterpret_cast<WPARAM>(&target), 0);
    }
    boost::shared_ptr<CJ2KImage> image_;
};

std::string without(std::string text, const std::string& cut)
{
    const size_t at = text.find(cut);
    return at == std::string::npos ? text : text.erase(at, cut.size());
}

} // namespace

TEST_F(Presentation, TakesTheDocumentsValuesOnceInOrder)
{
    const struct {
        const char* name;
        std::string pssi;
        const char* id;
        bool presented;
        float width, centre, slope, intercept;
        int representation;
        double rowSpacing, columnSpacing;
        size_t voiTables;
        const char* status;     // null: the image's own display-state text
        const char* annotation; // null: the annotations' own text
    } cases[] = {
        {"all values", fixture(), "A", true, 350, 40, 1.5f, -1024, 1, 0.5, 0.25, 2, "0a0b", "0c"},
        {"no status tag", without(fixture(), "<Tag group=\"0x0011\" element=\"0x101B\">0a0b</Tag>"), "A", true, 350,
         40, 1.5f, -1024, 1, 0.5, 0.25, 2, nullptr, "0c"},
        // No window on the image: the default (none) stays. The document-wide tag search
        // (kept on purpose) takes slope, intercept and representation from the series and A.
        {"no window", fixture(), "C", true, -1, 0, 1.5f, -1024, 1, -1.0, -1.0, 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gridtest::GridHarness h;
        boost::shared_ptr<CJ2KImage> image = present(h, c.pssi, c.id);
        CImageBase& base = image->getImageBase();
        const DicomRecord& d = base.GetPhotometricInterpretation();
        EXPECT_EQ(image->isPresented(), c.presented);
        EXPECT_FALSE(h.grid->isAnnotationFailed());
        EXPECT_EQ(d.windowWidth, c.width);
        EXPECT_EQ(d.windowCentre, c.centre);
        EXPECT_EQ(d.rescaleSlope, c.slope);
        EXPECT_EQ(d.rescaleIntercept, c.intercept);
        EXPECT_EQ(d.pixelRepresentation, c.representation);
        EXPECT_EQ(d.pixelSpacingRow, c.rowSpacing);
        EXPECT_EQ(d.pixelSpacingColumn, c.columnSpacing);
        EXPECT_EQ(base.GetVoiLuts().size(), c.voiTables);
        std::string state;
        EXPECT_EQ(image->getStatus(), c.status ? std::string(c.status) : base.GetDisplayStateText(state));
        EXPECT_EQ(image->getStoredAnnotation(), c.annotation ? std::string(c.annotation) : image->getAnnotationText());
        const std::string first = readLog();
        EXPECT_NE(findInOrder(first, kSteps), std::string::npos) << first;
        // Later messages for the same image only repaint.
        send(h, c.id);
        const std::string second = readLog().substr(first.size());
        EXPECT_NE(second.find("Start Presentation"), std::string::npos);
        EXPECT_EQ(second.find("prepare"), std::string::npos) << second;
    }
}

TEST_F(Presentation, FailingStepKeepsTheImageUnpresentedUntilALaterMessage)
{
    gridtest::GridHarness h;
    // Image B's window centre is "abc".
    boost::shared_ptr<CJ2KImage> image = present(h, fixture(), "B");
    EXPECT_FALSE(image->isPresented());
    EXPECT_TRUE(h.grid->isAnnotationFailed());
    const std::string first = readLog();
    EXPECT_NE(findInOrder(first, {"prepareDicomInfo", "Exception happened in OnStartPresentation"}),
              std::string::npos) << first;
    // Mended in the document, the next message runs every step again.
    TiXmlElement* b = imageById(*h.frame->getPssiXmlDao(), "B");
    for (TiXmlElement* t = b->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
        if (std::string(t->Attribute("element")) == "0x1050")
            t->FirstChild()->SetValue("12");
    send(h, "B");
    EXPECT_TRUE(image->isPresented());
    EXPECT_EQ(image->getImageBase().GetPhotometricInterpretation().windowCentre, 12.0f);
    EXPECT_NE(findInOrder(readLog(), kSteps, first.size()), std::string::npos);
    // A target outside the registry only repaints.
    const size_t before = readLog().size();
    send(h, "unknown");
    EXPECT_EQ(readLog().substr(before).find("prepare"), std::string::npos);
}
