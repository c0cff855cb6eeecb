#include "R2IVuzi/PssiXmlDao.h"
#include "annotation/CurrentStamp.h"
#include "platform/ModuleStartup.h"
#include "tests/diagnostics/LogTestSupport.h"

#include <boost/lexical_cast.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

std::string fixture(const char* name)
{
    std::ifstream in(std::string(ORBEL_TEST_DATA_DIR) + "/pssi/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TiXmlElement* imageById(CPssiXmlDao& dao, const char* id)
{
    TiXmlElement* series = dao.getRootElement()->FirstChildElement("Patient")->FirstChildElement("Study")
                               ->FirstChildElement("Series");
    for (TiXmlElement* e = series->FirstChildElement("Image"); e; e = e->NextSiblingElement("Image"))
        if (e->Attribute("id") && std::string(e->Attribute("id")) == id)
            return e;
    return nullptr;
}

TiXmlElement* tagOf(TiXmlElement* image, const char* element)
{
    for (TiXmlElement* t = image->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
        if (std::string(t->Attribute("element")) == element)
            return t;
    return nullptr;
}

class PssiDao : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        dao_.parsePssi(fixture("pssi.xml"));
        ASSERT_FALSE(dao_.hasPssiError());
        a_ = imageById(dao_, "A");
        b_ = imageById(dao_, "B");
        c_ = imageById(dao_, "C");
        ASSERT_TRUE(a_ && b_ && c_);
    }

    CPssiXmlDao dao_;
    TiXmlElement* a_ = nullptr;
    TiXmlElement* b_ = nullptr;
    TiXmlElement* c_ = nullptr;
};

class PssiDaoStamps : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
        dao_.parseStamp(fixture("stamps.xml"));
        ASSERT_FALSE(dao_.hasStampError());
    }
    void TearDown() override
    {
        currentStampName.clear();
        currentStampBitmap.clear();
        LogFileFixture::TearDown();
    }
    std::vector<unsigned char> load(const std::u16string& name)
    {
        currentStampName = name;
        dao_.loadCurrentStampData();
        return currentStampBitmap;
    }
    CPssiXmlDao dao_;
};

TEST_F(PssiDaoStamps, NamesAndData)
{
    const auto names = dao_.getStampNames(100);
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names.begin()->first, 101);
    EXPECT_EQ(names.rbegin()->first, 106);
    EXPECT_EQ(names.at(101), u"A");
    EXPECT_EQ(names.at(105), std::u16string(u"\xD83D\xDE00"));
    EXPECT_EQ(names.at(106), u"D");

    using bytes = std::vector<unsigned char>;
    EXPECT_EQ(load(u"A"), (bytes{0x42, 0x4d, 0x00}));
    EXPECT_EQ(load(u"B"), (bytes{0x0a, 0x0b}));
    EXPECT_EQ(load(u"\xD83D\xDE00"), (bytes{0xff}));
    // No data, or no name chosen: the bytes stay.
    EXPECT_EQ(load(u"D"), (bytes{0xff}));
    EXPECT_EQ(load(u""), (bytes{0xff}));

    EXPECT_TRUE(load(u"C").empty());
    const auto records = splitRecords(readLog());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].substr(0, 7), "[ERROR:");
    EXPECT_NE(records[0].find("] Invalid stamp data: C"), std::string::npos);

    CPssiXmlDao broken;
    broken.parseStamp("<root><stamps><item name=\"A\"");
    EXPECT_TRUE(broken.hasStampError());
    EXPECT_TRUE(broken.getStampNames(0).empty());
}

TEST_F(PssiDao, DicomQueries)
{
    EXPECT_EQ(dao_.getObjectFile(a_), "a.jp2");
    EXPECT_EQ(dao_.getInstanceUID(a_), "1.2.3");
    EXPECT_EQ(dao_.getObjectFile(nullptr), "");
    EXPECT_EQ(dao_.getInstanceUID(c_), "");

    std::string photometric;
    EXPECT_TRUE(dao_.getPhotometricInterpretation(a_, photometric));
    EXPECT_EQ(photometric, "MONOCHROME2");
    float intercept = 0, slope = 0;
    EXPECT_TRUE(dao_.getRescaleIntercept(a_, intercept));
    EXPECT_EQ(intercept, -1024.0f);
    EXPECT_TRUE(dao_.getRescaleSlope(a_, slope));
    EXPECT_EQ(slope, 1.5f);
    int representation = -1;
    EXPECT_TRUE(dao_.getPixelRepresentation(a_, representation));
    EXPECT_EQ(representation, 1);

    float centre = 0, width = 0;
    EXPECT_TRUE(dao_.getWindowCenter(a_, centre));
    EXPECT_EQ(centre, 40.0f);
    EXPECT_TRUE(dao_.getWindowWidth(a_, width));
    EXPECT_EQ(width, 350.0f);

    double row = 0, column = 0;
    EXPECT_TRUE(dao_.getPixelSpacing(a_, row, column));
    EXPECT_EQ(row, 0.5);
    EXPECT_EQ(column, 0.25);
    EXPECT_TRUE(dao_.getPixelSpacing(b_, row, column));
    EXPECT_EQ(row, -1.0);
    EXPECT_EQ(column, -1.0);
    EXPECT_TRUE(dao_.getPixelSpacing(c_, row, column));
    EXPECT_EQ(row, -1.0);
    EXPECT_EQ(column, -1.0);

    EXPECT_EQ(dao_.getModality(a_), "CT");
    EXPECT_EQ(dao_.getImageStatusTag(a_), "0a0b");
    EXPECT_EQ(dao_.getAnnotationTag(a_), "0c");
    EXPECT_EQ(dao_.getAnnotationTag(b_), "");
}

// Two images of one series, the first with every value, the second with none of its own:
// each value comes from the image, else from its series, study or patient, never from the
// other image, in either order of the images.
TEST(PssiDaoLevels, ImageValuesComeFromTheImageOrItsAncestorsOnly)
{
    const std::string full = "<Image id=\"full\"><Tag group=\"0x0028\" element=\"0x1052\">-1024</Tag>"
                             "<Tag group=\"0x0028\" element=\"0x1050\">40</Tag>"
                             "<Tag group=\"0x0028\" element=\"0x1051\">400</Tag>"
                             "<Tag group=\"0x0028\" element=\"0x0103\">1</Tag>"
                             "<Tag group=\"0x0028\" element=\"0x0004\">MONOCHROME2</Tag>"
                             "<Tag group=\"0x0028\" element=\"0x0030\">0.5\\0.5</Tag></Image>";
    const std::string bare = "<Image id=\"bare\"><ObjectFile>b.jp2</ObjectFile></Image>";
    for (const bool fullFirst : {true, false}) {
        SCOPED_TRACE(fullFirst ? "full image first" : "bare image first");
        CPssiXmlDao dao;
        dao.parsePssi("<Root><Patient><Tag group=\"0x0028\" element=\"0x0004\">MONOCHROME1</Tag><Study>"
                      "<Tag group=\"0x0028\" element=\"0x1053\">2</Tag><Series>"
                      "<Tag group=\"0x0028\" element=\"0x1053\">1.5</Tag>" +
                      (fullFirst ? full + bare : bare + full) + "</Series></Study></Patient></Root>");
        ASSERT_FALSE(dao.hasPssiError());
        TiXmlElement* withValues = imageById(dao, "full");
        TiXmlElement* without = imageById(dao, "bare");
        ASSERT_TRUE(withValues && without);

        float intercept = 7, centre = 7, width = 7, slope = 7;
        int representation = 7;
        std::string photometric;
        double row = 7, column = 7;
        EXPECT_TRUE(dao.getRescaleIntercept(withValues, intercept));
        EXPECT_TRUE(dao.getWindowCenter(withValues, centre));
        EXPECT_TRUE(dao.getWindowWidth(withValues, width));
        EXPECT_TRUE(dao.getPixelRepresentation(withValues, representation));
        EXPECT_TRUE(dao.getPhotometricInterpretation(withValues, photometric));
        EXPECT_TRUE(dao.getPixelSpacing(withValues, row, column));
        EXPECT_EQ(intercept, -1024.0f);
        EXPECT_EQ(centre, 40.0f);
        EXPECT_EQ(width, 400.0f);
        EXPECT_EQ(representation, 1);
        EXPECT_EQ(photometric, "MONOCHROME2");
        EXPECT_EQ(row, 0.5);

        intercept = centre = width = 7;
        representation = 7;
        EXPECT_FALSE(dao.getRescaleIntercept(without, intercept));
        EXPECT_FALSE(dao.getWindowCenter(without, centre));
        EXPECT_FALSE(dao.getWindowWidth(without, width));
        EXPECT_FALSE(dao.getPixelRepresentation(without, representation));
        EXPECT_FALSE(dao.getPixelSpacing(without, row, column));
        EXPECT_EQ(intercept, 7.0f);
        EXPECT_EQ(centre, 7.0f);
        EXPECT_EQ(width, 7.0f);
        EXPECT_EQ(representation, 7);
        EXPECT_EQ(row, -1.0);
        // The nearest ancestor holding the value wins: the series' slope, the patient's
        // photometric interpretation.
        EXPECT_TRUE(dao.getRescaleSlope(without, slope));
        EXPECT_EQ(slope, 1.5f);
        EXPECT_TRUE(dao.getPhotometricInterpretation(without, photometric));
        EXPECT_EQ(photometric, "MONOCHROME1");
    }
}

TEST_F(PssiDao, LookupTables)
{
    VoiLutEntry modality;
    ASSERT_TRUE(dao_.getModalityLUT(a_, modality));
    EXPECT_EQ(modality.entryCount, 3);
    EXPECT_EQ(modality.firstValueMapped, -32668);
    EXPECT_EQ(modality.bitsPerEntry, 16);
    EXPECT_EQ(modality.data, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(modality.limit, 65536);

    std::map<int, VoiLutEntry> voi;
    ASSERT_TRUE(dao_.getVOILUT(a_, voi));
    ASSERT_EQ(voi.size(), 2u);
    EXPECT_EQ(voi[0].firstValueMapped, -32768);
    EXPECT_EQ(voi[0].bitsPerEntry, 8);
    EXPECT_EQ(voi[0].data.size(), 4u);
    EXPECT_EQ(voi[1].entryCount, 2);
    EXPECT_EQ(voi[1].firstValueMapped, 10 - 32768);
    EXPECT_EQ(voi[1].data, (std::vector<int32_t>{5, 6}));

    // A copy of A with pixel representation 0 keeps the first values as written.
    TiXmlNode* copy = a_->Parent()->InsertEndChild(*a_);
    tagOf(copy->ToElement(), "0x0103")->FirstChild()->SetValue("0");
    VoiLutEntry plain;
    ASSERT_TRUE(dao_.getModalityLUT(copy, plain));
    EXPECT_EQ(plain.firstValueMapped, 100);
    std::map<int, VoiLutEntry> plainVoi;
    ASSERT_TRUE(dao_.getVOILUT(copy, plainVoi));
    EXPECT_EQ(plainVoi[0].firstValueMapped, 0);

    // Sizes: a 65536-entry table (descriptor count 0) needs exactly 65536 values.
    auto withModality = [&](const std::string& descriptor, int values) {
        std::string data;
        for (int i = 0; i < values; ++i)
            data += (i ? "\\" : "") + std::to_string(i % 4096);
        TiXmlElement* image = copy->Parent()->InsertEndChild(*copy)->ToElement();
        TiXmlElement* item = tagOf(image, "0x3000")->FirstChildElement("Tag");
        tagOf(item, "0x3002")->FirstChild()->SetValue(descriptor);
        tagOf(item, "0x3006")->FirstChild()->SetValue(data);
        VoiLutEntry lut;
        const bool ok = dao_.getModalityLUT(image, lut);
        return std::make_pair(ok, lut);
    };
    auto full = withModality("0\\0\\16", 65536);
    EXPECT_TRUE(full.first);
    EXPECT_EQ(full.second.entryCount, 65536);
    EXPECT_EQ(full.second.data.size(), 65536u);
    EXPECT_FALSE(withModality("0\\0\\16", 65535).first);
    EXPECT_FALSE(withModality("3\\0\\8", 3).first);
    EXPECT_FALSE(withModality("3\\0", 3).first);
    EXPECT_THROW(withModality("3\\x\\16", 3), boost::bad_lexical_cast);
}

class fake_image : public IImageStatusSource {
public:
    explicit fake_image(std::string uid) : uid_(std::move(uid)) {}
    std::string getInstanceUID() const override { return uid_; }
    std::string getDisplayStateText() const override { return std::string(); }
    std::string getLastReportedText() const override { return last_; }
    void setLastReportedText(const std::string& text) override { last_ = text; }
    std::string getAnnotationText() const override { return std::string(); }
    bool isAnnotationModified() const override { return false; }
    void setAnnotationModified(bool) override {}

private:
    std::string uid_;
    std::string last_;
};

TEST(PssiDaoCore, LevelsRegistryRootsDocuments)
{
    const char* names[] = {"Frame", "Image", "Series", "Study", "Patient", "Root"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(CPssiXmlDao::getLevelName(i), names[i]);
    EXPECT_EQ(CPssiXmlDao::getLevelName(-1), "");
    EXPECT_EQ(CPssiXmlDao::getLevelName(6), "");

    CPssiXmlDao dao;
    auto first = boost::make_shared<fake_image>("1");
    dao.registerImage("", first);
    EXPECT_FALSE(dao.findImage(""));
    dao.registerImage("a.jp2", first);
    dao.registerImage("a.jp2", boost::make_shared<fake_image>("2"));
    EXPECT_EQ(dao.findImage("a.jp2"), first);
    EXPECT_FALSE(dao.findImage("b.jp2"));

    EXPECT_EQ(dao.getRootElement(), nullptr);
    EXPECT_FALSE(dao.hasPssiDocument());
    EXPECT_TRUE(dao.hasPssiError());
    dao.parsePssi("<Root><Patient/></Root>");
    EXPECT_FALSE(dao.hasPssiError());
    TiXmlElement* root = dao.getRootElement();
    ASSERT_NE(root, nullptr);
    dao.addWorkingRoot(root);
    dao.addWorkingRoot(root->FirstChildElement());
    EXPECT_EQ(dao.getWorkingRootCount(), 2u);
    EXPECT_EQ(dao.getWorkingRoot(1), root->FirstChildElement());
    EXPECT_EQ(dao.getWorkingRoot(2), nullptr);
    EXPECT_EQ(CPssiXmlDao::getNodeAt({}, 0), nullptr);
    EXPECT_EQ(CPssiXmlDao::getNodeAt({root}, 0), root);
    dao.clearWorkingRoots();
    EXPECT_EQ(dao.getWorkingRoot(0), nullptr);

    // A second PSSI document leaves the first one readable while something holds it, and
    // frees it once nothing does; the images registered for it go with it.
    TiXmlElement* patient = root->FirstChildElement();
    boost::shared_ptr<const void> hold = dao.documentHold();
    const boost::weak_ptr<const void> firstDocument(hold);
    dao.parsePssi("<Root><Other/></Root>");
    EXPECT_STREQ(dao.getRootElement()->FirstChildElement()->Value(), "Other");
    EXPECT_STREQ(patient->Value(), "Patient");
    EXPECT_FALSE(dao.findImage("a.jp2"));
    const boost::weak_ptr<const void> second(dao.documentHold());
    auto stored = std::make_unique<TiXmlDocument>();
    stored->Parse("<Root/>");
    dao.setPssiDocument(std::move(stored));
    EXPECT_STREQ(patient->Value(), "Patient");
    EXPECT_TRUE(second.expired());
    EXPECT_FALSE(firstDocument.expired());
    hold.reset();
    EXPECT_TRUE(firstDocument.expired());

    dao.parsePssi("<Root><broken>");
    EXPECT_TRUE(dao.hasPssiError());
    dao.parseConfig("no xml");
    EXPECT_TRUE(dao.hasConfigError());
    dao.parseConfig("<root/>");
    EXPECT_FALSE(dao.hasConfigError());

    const auto steps = StartupRegistry::global().names();
    EXPECT_NE(std::find(steps.begin(), steps.end(), "current stamp name and bitmap"), steps.end());
}

TEST(PssiDaoConcurrency, RecursiveLockHandsOverAfterLastRelease)
{
    CPssiXmlDao dao;
    boost::mutex m;
    boost::condition_variable cv;
    int held = 0;       // locks the first thread holds
    int step = 0;       // releases the main thread has allowed
    std::vector<bool> attempts;
    boost::thread owner([&] {
        auto l1 = std::make_unique<CPssiXmlDao::Lock>(dao);
        auto l2 = std::make_unique<CPssiXmlDao::Lock>(dao);
        auto l3 = std::make_unique<CPssiXmlDao::Lock>(dao);
        std::unique_ptr<CPssiXmlDao::Lock>* locks[] = {&l3, &l2, &l1};
        boost::unique_lock<boost::mutex> lk(m);
        held = 3;
        cv.notify_all();
        for (int i = 0; i < 3; ++i) {
            cv.wait(lk, [&] { return step > i; });
            locks[i]->reset();
            --held;
            cv.notify_all();
        }
    });
    boost::unique_lock<boost::mutex> lk(m);
    for (int i = 0; i < 3; ++i) {
        cv.wait(lk, [&] { return held == 3 - i; });
        const bool got = dao.recursiveMutex().try_lock();
        if (got)
            dao.recursiveMutex().unlock();
        attempts.push_back(got);
        ++step;
        cv.notify_all();
    }
    cv.wait(lk, [&] { return held == 0; });
    lk.unlock();
    owner.join();
    EXPECT_EQ(attempts, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(dao.recursiveMutex().try_lock());
    dao.recursiveMutex().unlock();
}

TEST(PssiDaoConcurrency, ReadersSeeBeforeOrAfterOfAnEdit)
{
    CPssiXmlDao dao;
    dao.parsePssi(fixture("pssi.xml"));
    TiXmlElement* a = imageById(dao, "A");
    ASSERT_NE(a, nullptr);
    boost::mutex m;
    boost::condition_variable cv;
    bool started = false, stop = false;
    boost::thread writer([&] {
        for (int round = 0; round < 200; ++round) {
            CPssiXmlDao::Lock lock(dao);
            std::vector<TiXmlElement> saved;
            while (TiXmlElement* t = a->FirstChildElement("Tag")) {
                saved.push_back(*t);
                a->RemoveChild(t);
            }
            for (const TiXmlElement& t : saved)
                a->InsertEndChild(t);
            if (round == 0) {
                boost::lock_guard<boost::mutex> g(m);
                started = true;
                cv.notify_all();
            }
        }
        boost::lock_guard<boost::mutex> g(m);
        stop = true;
        cv.notify_all();
    });
    {
        boost::unique_lock<boost::mutex> lk(m);
        cv.wait(lk, [&] { return started; });
    }
    int reads = 0;
    for (;;) {
        {
            boost::lock_guard<boost::mutex> g(m);
            if (stop && reads > 0)
                break;
        }
        EXPECT_EQ(dao.getObjectFile(a), "a.jp2");
        EXPECT_EQ(dao.getInstanceUID(a), "1.2.3");
        std::string photometric;
        EXPECT_TRUE(dao.getDicomNodeInfo(a, photometric, "0x0028", "0x0004"));
        EXPECT_EQ(photometric, "MONOCHROME2");
        std::map<int, VoiLutEntry> voi;
        EXPECT_TRUE(dao.getVOILUT(a, voi));
        EXPECT_EQ(voi.size(), 2u);
        ++reads;
    }
    writer.join();
}

} // namespace
