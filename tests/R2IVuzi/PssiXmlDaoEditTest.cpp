// The editing half of the data-access object: overlays, hanging marks, study insertion
// and the annotation merge.
#include "R2IVuzi/PssiXmlDao.h"
#include "tests/diagnostics/LogTestSupport.h"

#include "tests/support/TestTools.h"
#include <boost/lexical_cast.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A document from tools/make_pssi.py.
std::string generated(const std::string& args)
{
    const std::string command = OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tools/make_pssi.py") + " " + args;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    std::string text;
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        text.append(buffer, n);
    return text;
}

std::string printed(const TiXmlNode* node)
{
    TiXmlPrinter printer;
    node->Accept(&printer);
    return printer.CStr();
}

const char* attr(const TiXmlNode* n, const char* name)
{
    return n->ToElement()->Attribute(name);
}

std::string firstChildText(const TiXmlNode* n)
{
    return n->FirstChild()->FirstChild()->Value();
}

std::vector<std::string> uidsOf(const std::vector<TiXmlNode*>& nodes)
{
    std::vector<std::string> uids;
    for (const TiXmlNode* n : nodes)
        uids.push_back(firstChildText(n));
    return uids;
}

// Every element of the given name below the node, in document order (independent walk).
void collect(TiXmlNode* node, const char* name, std::vector<TiXmlNode*>& out)
{
    for (TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (std::string(e->Value()) == name)
            out.push_back(e);
        collect(e, name, out);
    }
}

std::vector<TiXmlNode*> all(CPssiXmlDao& dao, const char* name)
{
    std::vector<TiXmlNode*> out;
    collect(dao.getRootElement(), name, out);
    return out;
}

const char kOverlayPssi[] =
    "<Root><overlay font=\"Courier\" fontsize=\"12\">"
    "<modality name=\"CT\"><Tag group=\"0x0010\" element=\"0x0010\" vr=\"PN\"><gridx>12abc</gridx>"
    "<prefix>Name</prefix></Tag>"
    "<Tag group=\"0x0008\" element=\"0x0020\" vr=\"DA\"><gridx> -7</gridx><gridy>x</gridy></Tag></modality>"
    "<modality name=\"O'X\"><Tag group=\"0x0010\" element=\"0x0020\" vr=\"LO\"/></modality>"
    "</overlay>"
    "<Patient><PatientUID>P</PatientUID><Tag group=\"0x0010\" element=\"0x0030\">19700101</Tag>"
    "<Study><StudyUID>S</StudyUID><Tag group=\"0x0008\" element=\"0x0020\">20260101</Tag>"
    "<Series><SeriesUID>R</SeriesUID><Tag group=\"0x0008\" element=\"0x0060\">CT</Tag>"
    "<Tag group=\"0x0010\" element=\"0x0010\">Series^Value</Tag>"
    "<Image><ImageUID>I</ImageUID><Tag group=\"0x0010\" element=\"0x0010\">Müller</Tag></Image></Series>"
    "<Series><SeriesUID>R2</SeriesUID><Tag group=\"0x0008\" element=\"0x0060\">O'X</Tag>"
    "<Image><ImageUID>J</ImageUID></Image></Series>"
    "<Series><SeriesUID>R3</SeriesUID><Image><ImageUID>K</ImageUID></Image></Series>"
    "</Study></Patient>"
    "<Image><ImageUID>Loose</ImageUID></Image></Root>";

class PssiOverlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        dao_.parsePssi(kOverlayPssi);
        ASSERT_FALSE(dao_.hasPssiError());
        images_ = all(dao_, "Image");
        ASSERT_EQ(images_.size(), 4u);
    }
    CPssiXmlDao dao_;
    std::vector<TiXmlNode*> images_;
};

TEST_F(PssiOverlay, TagsFollowTheImagesModality)
{
    const std::vector<TiXmlNode*> ct = dao_.getOverlayTags(images_[0]);
    ASSERT_EQ(ct.size(), 2u);
    EXPECT_STREQ(attr(ct[0], "group"), "0x0010");
    EXPECT_STREQ(attr(ct[1], "element"), "0x0020");
    const OverlayTagInfo info = dao_.getTagAttributes(ct[1]);
    EXPECT_EQ(info.group, "0x0008");
    EXPECT_EQ(info.element, "0x0020");
    EXPECT_EQ(info.vr, "DA");

    // An apostrophe in the modality must not break the selection.
    const std::vector<TiXmlNode*> ox = dao_.getOverlayTags(images_[1]);
    ASSERT_EQ(ox.size(), 1u);
    EXPECT_STREQ(attr(ox[0], "element"), "0x0020");

    EXPECT_TRUE(dao_.getOverlayTags(images_[2]).empty());
    EXPECT_TRUE(dao_.getOverlayTags(nullptr).empty());

    CPssiXmlDao bare;
    bare.parsePssi("<Root><overlay><modality name=\"CT\"><Tag/></modality></overlay></Root>");
    const OverlayTagInfo none = bare.getTagAttributes(bare.getRootElement()->FirstChild()->FirstChild()->FirstChild());
    EXPECT_EQ(none.group + none.element + none.vr, "");
}

TEST_F(PssiOverlay, TagValueNearestLevelWins)
{
    // Image over series, with UTF-8 intact.
    EXPECT_EQ(dao_.getTagValueByLevel(images_[0], {"0x0010", "0x0010", "PN"}), u"Müller");
    EXPECT_EQ(dao_.getTagValueByLevel(images_[0], {"0x0008", "0x0020", "DA"}), u"20260101");
    EXPECT_EQ(dao_.getTagValueByLevel(images_[0], {"0x0010", "0x0030", "DA"}), u"19700101");
    EXPECT_EQ(dao_.getTagValueByLevel(images_[1], {"0x0010", "0x0010", "PN"}), u"");
    // Patient's sibling series do not lend values; an image under Root finds nothing.
    EXPECT_EQ(dao_.getTagValueByLevel(images_[2], {"0x0008", "0x0060", "CS"}), u"");
    EXPECT_EQ(dao_.getTagValueByLevel(images_[3], {"0x0010", "0x0010", "PN"}), u"");
    EXPECT_EQ(dao_.getTagValueByLevel(nullptr, {"0x0010", "0x0010", "PN"}), u"");
}

// 2 patients x 2 studies x 2 series x 3 images; the third series carries no marks.
class PssiHanging : public ::testing::Test {
protected:
    void SetUp() override
    {
        dao_.parsePssi(generated("--unmarked-series 2"));
        ASSERT_FALSE(dao_.hasPssiError());
        root_ = dao_.getRootElement();
        patients_ = all(dao_, "Patient");
        studies_ = all(dao_, "Study");
        series_ = all(dao_, "Series");
        images_ = all(dao_, "Image");
        ASSERT_EQ(images_.size(), 24u);
    }
    std::vector<std::string> hanging(const std::vector<TiXmlNode*>& nodes)
    {
        std::vector<std::string> values;
        for (const TiXmlNode* n : nodes)
            values.push_back(attr(n, "hanging") ? attr(n, "hanging") : "-");
        return values;
    }
    CPssiXmlDao dao_;
    TiXmlElement* root_ = nullptr;
    std::vector<TiXmlNode*> patients_, studies_, series_, images_;
};

TEST_F(PssiHanging, DownwardFromRootMarksEveryCarrier)
{
    dao_.setHangingDownward(root_, 5, "True");
    EXPECT_EQ(attr(root_, "hanging"), nullptr);
    EXPECT_EQ(attr(series_[2], "hanging"), nullptr);
    for (const auto* list : {&patients_, &studies_, &images_})
        EXPECT_EQ(hanging(*list), std::vector<std::string>(list->size(), "True"));
    EXPECT_EQ(dao_.getHangingCount(root_, 1), 24);
    EXPECT_EQ(dao_.getHangingNodeList(root_, 1), images_);
    EXPECT_EQ(dao_.getHangingCount(root_, 2), 7);
}

TEST_F(PssiHanging, InsertStudyPlacesTheCopy)
{
    auto studyXml = [](const char* uid) {
        return std::string("<Root><Patient><PatientUID>x</PatientUID><Study><StudyUID>") + uid +
            "</StudyUID></Study></Patient></Root>";
    };
    auto studyUids = [&](TiXmlNode* patient) {
        std::vector<TiXmlNode*> studies;
        collect(patient, "Study", studies);
        return uidsOf(studies);
    };
    // After a known study; before the first when unknown; in the given patient always.
    dao_.insertStudy("1.1", "", "1.1.1", studyXml("N1").c_str());
    dao_.insertStudy("1.1", "", "9.9", studyXml("N2").c_str());
    dao_.insertStudy("1.1", "", "1.2.1", studyXml("N3").c_str());
    EXPECT_EQ(studyUids(patients_[0]), (std::vector<std::string>{"N3", "N2", "1.1.1", "N1", "1.1.2"}));
    EXPECT_EQ(studyUids(patients_[1]), (std::vector<std::string>{"1.2.1", "1.2.2"}));

    const std::string before = printed(root_);
    dao_.insertStudy("1.1", "", "1.1.1", "<Root><Patient><PatientUID>x</PatientUID></Patient></Root>");
    dao_.insertStudy("1.1", "", "1.1.1", "<Root><Patient");
    dao_.insertStudy("1.1", "", "1.1.1", nullptr);
    EXPECT_EQ(printed(root_), before);

    // New patients: after the uncle, else before the first patient.
    dao_.insertStudy("2", "1.1", "", "<Root><Patient><PatientUID>2</PatientUID></Patient></Root>");
    dao_.insertStudy("3", "none", "", "<Patient><PatientUID>3</PatientUID></Patient>");
    EXPECT_EQ(uidsOf(all(dao_, "Patient")), (std::vector<std::string>{"3", "1.1", "2", "1.2"}));

    CPssiXmlDao sparse;
    sparse.parsePssi("<Root><overlay/><Patient><PatientUID>P</PatientUID><Tag/></Patient></Root>");
    sparse.insertStudy("P", "", "S", studyXml("N").c_str());
    EXPECT_STREQ(sparse.getRootElement()->FirstChildElement("Patient")->LastChild()->Value(), "Study");
    CPssiXmlDao noPatients;
    noPatients.parsePssi("<Root><overlay/></Root>");
    noPatients.insertStudy("P", "U", "S", studyXml("N").c_str());
    EXPECT_STREQ(noPatients.getRootElement()->LastChild()->Value(), "Patient");
}

class FakeImage : public IImageStatusSource {
public:
    FakeImage(std::string uid, std::string state) : uid_(std::move(uid)), state_(std::move(state)) {}
    std::string getInstanceUID() const override { return uid_; }
    std::string getDisplayStateText() const override { return state_; }
    std::string getLastReportedText() const override { return last_; }
    void setLastReportedText(const std::string& text) override { last_ = text; }
    std::string getAnnotationText() const override { return "abcd"; }
    bool isAnnotationModified() const override { return modified_; }
    void setAnnotationModified(bool modified) override { modified_ = modified; }

    std::string uid_, state_, last_;
    bool modified_ = false;
};

TEST(PssiAnnotation, ReplyTagsReplaceTheImagesTags)
{
    CPssiXmlDao dao;
    dao.parsePssi("<Root><Patient><PU>P</PU><Study><SU>S</SU><Series><RU>R</RU><Image annotated=\"False\">"
                  "<IU>I</IU><ObjectFile>a.jp2</ObjectFile><Tag n=\"1\"/><InstanceUID>I</InstanceUID>"
                  "<Tag n=\"2\"/><Tag n=\"3\"><Tag n=\"3a\"/></Tag></Image></Series></Study></Patient></Root>");
    TiXmlDocument reply;
    reply.Parse("<Image><Tag n=\"r1\">v</Tag><Tag n=\"seq\"><Tag n=\"item\"><Tag n=\"in\"/></Tag></Tag></Image>");
    const std::string before = printed(dao.getRootElement());
    dao.configureImageAnnotation("", reply.RootElement());
    dao.configureImageAnnotation("nope", reply.RootElement());
    dao.configureImageAnnotation("I", nullptr);
    EXPECT_EQ(printed(dao.getRootElement()), before);

    dao.configureImageAnnotation("I", reply.RootElement());
    const TiXmlNode* image = all(dao, "Image")[0];
    TiXmlPrinter printer;
    printer.SetIndent("");
    printer.SetLineBreak("");
    image->Accept(&printer);
    EXPECT_EQ(std::string(printer.CStr()),
        "<Image annotated=\"True\"><IU>I</IU><ObjectFile>a.jp2</ObjectFile><InstanceUID>I</InstanceUID>"
        "<Tag n=\"r1\">v</Tag><Tag n=\"seq\"><Tag n=\"item\"><Tag n=\"in\" /></Tag></Tag></Image>");
    EXPECT_TRUE(dao.isAnnotated(image));
}

TEST(PssiAnnotation, TreeReplyMergesLevelByLevel)
{
    CPssiXmlDao dao;
    dao.parsePssi(generated("--patients 1 --studies 1 --series 2 --images 2 --tags 2"));
    TiXmlDocument reply;
    reply.Parse("<Patient><Tag n=\"p\"/><Study><Tag n=\"s\"/><Series><Tag n=\"r\"/>"
                "<Image><Tag n=\"i\"/></Image></Series></Study></Patient>");
    const TiXmlElement* replyImage = reply.RootElement()->FirstChildElement("Study")->FirstChildElement("Series")
                                         ->FirstChildElement("Image");
    dao.configureImageAnnotationTree("1.1.1.2.2", replyImage);
    const TiXmlNode* image = dao.findNodeByUID(dao.getRootElement(), "//Image", "1.1.1.2.2");
    const char* expected[] = {"i", "r", "s", "p"};
    const TiXmlNode* level = image;
    for (const char* n : expected) {
        std::vector<std::string> tags;
        for (const TiXmlElement* t = level->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
            tags.push_back(t->Attribute("n"));
        EXPECT_EQ(tags, std::vector<std::string>{n}) << level->Value();
        EXPECT_STREQ(attr(level, "annotated"), "True");
        level = level->Parent();
    }
    // The other series and its images are untouched.
    EXPECT_STREQ(attr(all(dao, "Series")[0], "annotated"), "False");
    EXPECT_EQ(all(dao, "Image")[0]->FirstChildElement("Tag")->Attribute("n"), nullptr);
}

TEST(PssiEditsConcurrency, MergesWhileTheWindowThreadReads)
{
    CPssiXmlDao dao;
    dao.parsePssi(generated("--patients 1 --studies 1 --series 2 --images 25 --tags 3"));
    const std::vector<TiXmlNode*> images = all(dao, "Image");
    ASSERT_EQ(images.size(), 50u);
    dao.updateOverlayConfig("<Root><overlay><modality name=\"CT\"><Tag group=\"0x0011\" element=\"0x101D\"/>"
                            "</modality></overlay></Root>");
    std::vector<std::unique_ptr<TiXmlDocument>> replies;
    for (size_t k = 0; k < images.size(); ++k) {
        replies.push_back(std::make_unique<TiXmlDocument>());
        replies.back()->Parse(("<Image><Tag group=\"0x0011\" element=\"0x101D\">r" + std::to_string(k) +
                                  "</Tag><Tag group=\"0x0011\" element=\"0x101B\">s</Tag></Image>").c_str());
    }
    std::atomic<bool> done{false};
    boost::thread loader([&] {
        for (size_t k = 0; k < images.size(); ++k)
            dao.configureImageAnnotation(dao.getInstanceUID(images[k]), replies[k]->RootElement());
        done = true;
    });
    size_t rounds = 0;
    do {
        for (const TiXmlNode* image : images) {
            dao.isAnnotated(image);
            EXPECT_FALSE(dao.getObjectFile(image).empty());
            std::string value;
            dao.getDicomNodeInfo(image, value, "0x0011", "0x101D");
            dao.getOverlayTags(image);
        }
        EXPECT_LE(dao.getHangingNodeList(dao.getRootElement(), 1).size(), 50u);
        ++rounds;
    } while (!done);
    loader.join();
    EXPECT_GE(rounds, 1u);
    for (size_t k = 0; k < images.size(); ++k) {
        EXPECT_TRUE(dao.isAnnotated(images[k]));
        const TiXmlElement* tag = images[k]->FirstChildElement("Tag");
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(std::string(tag->FirstChild()->Value()), "r" + std::to_string(k));
        EXPECT_STREQ(tag->NextSiblingElement("Tag")->Attribute("element"), "0x101B");
        EXPECT_EQ(tag->NextSiblingElement("Tag")->NextSiblingElement("Tag"), nullptr);
    }
}

} // namespace

namespace {

} // namespace
