#include "tools/demo-console/DemoPssi.h"

#include "R2IVuzi/PssiXmlDao.h"
#include "platform/TextConv.h"

#include <boost/lexical_cast.hpp>
#include <boost/make_shared.hpp>
#include <tinyxml.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string narrow(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

template <class T> std::string shown(const std::optional<T>& value)
{
    return value ? boost::lexical_cast<std::string>(*value) : std::string("(unset)");
}

// Stands in for a streamed image: what the status document reads from it.
class DemoImage : public IImageStatusSource {
public:
    DemoImage(std::string uid, std::string state, bool annotated)
        : uid_(std::move(uid)), state_(std::move(state)), annotationModified_(annotated)
    {
    }
    std::string getInstanceUID() const override { return uid_; }
    std::string getDisplayStateText() const override { return state_; }
    std::string getLastReportedText() const override { return last_; }
    void setLastReportedText(const std::string& text) override { last_ = text; }
    std::string getAnnotationText() const override { return "0100ff"; }
    bool isAnnotationModified() const override { return annotationModified_; }
    void setAnnotationModified(bool modified) override { annotationModified_ = modified; }

private:
    std::string uid_, state_, last_;
    bool annotationModified_;
};

void printSettings(const CPssiXmlDao& dao, std::ostream& out)
{
    out << "Settings: language " << shown(dao.getLanguage()) << ", max layout " << shown(dao.getMaxLayout())
        << ", working mode " << shown(dao.getWorkingMode()) << ", hang mode " << shown(dao.getHangMode())
        << ", working tool " << shown(dao.getWorkingTool()) << ", annotation tool " << shown(dao.getAnnTool())
        << ", select mode " << shown(dao.getSelectMode()) << ", retry count " << dao.getRetryTimes()
        << ", packet size " << dao.getPacketSize() << '\n';
    out << "Resource \"Zoom\": " << narrow(dao.getResourceText("Zoom")) << '\n';
    out << "Menu:\n";
    for (const auto& entry : dao.getMenuItems())
        out << "  [" << entry.first << "] id " << entry.second.id << " \"" << narrow(entry.second.text)
            << "\" hotkey " << entry.second.hotkey << '\n';
}

void printImage(const CPssiXmlDao& dao, const TiXmlNode* image, std::ostream& out)
{
    std::string photometric;
    float intercept = 0, slope = 1, centre = 0, width = 0;
    int representation = 0;
    double row = -1, column = -1;
    dao.getPhotometricInterpretation(image, photometric);
    dao.getRescaleIntercept(image, intercept);
    dao.getRescaleSlope(image, slope);
    dao.getPixelRepresentation(image, representation);
    dao.getWindowCenter(image, centre);
    dao.getWindowWidth(image, width);
    dao.getPixelSpacing(image, row, column);
    out << "  " << dao.getObjectFile(image) << " (" << dao.getInstanceUID(image) << "): " << dao.getModality(image)
        << ' ' << photometric << ", pixel representation " << representation << ", rescale " << slope << "x + "
        << intercept << ", window " << centre << '/' << width << ", spacing " << row << " x " << column << '\n';
}

} // namespace

bool runPssiDemo(const std::string& demoDir, std::ostream& out)
{
    CPssiXmlDao dao;
    dao.parseConfig(readFile(demoDir + "/Config.xml"));
    if (dao.hasConfigError()) {
        out << "Cannot parse " << demoDir << "/Config.xml\n";
        return false;
    }
    printSettings(dao, out);

    dao.parsePssi(readFile(demoDir + "/BasePssi.xml"));
    TiXmlElement* root = dao.getRootElement();
    if (dao.hasPssiError() || !root) {
        out << "Cannot parse " << demoDir << "/BasePssi.xml\n";
        return false;
    }
    // Nothing is hung yet, so list the images by level.
    out << "Images:\n";
    for (int k = 0; TiXmlNode* image = dao.getLevelNode(root, 1, k, false); ++k)
        printImage(dao, image, out);

    dao.setHangingDownward(root, 5, "True");
    out << "Hanging: " << dao.getHangingCount(root, 4) << " patient, " << dao.getHangingCount(root, 3)
        << " study, " << dao.getHangingCount(root, 2) << " series, " << dao.getHangingCount(root, 1)
        << " images\n";
    for (TiXmlNode* series : dao.getHangingNodeList(root, 2))
        out << "  series " << series->FirstChild()->FirstChild()->Value() << ": "
            << dao.getHangingCount(series, 1) << " images\n";

    const OverlayFontInfo font = dao.getOverlayFont();
    out << "Overlay font: " << font.faceName << ' ' << font.size << '\n';
    for (TiXmlNode* image : dao.getHangingNodeList(root, 1)) {
        out << "  " << dao.getObjectFile(image) << ':';
        for (TiXmlNode* tag : dao.getOverlayTags(image)) {
            const OverlayTagInfo info = dao.getTagAttributes(tag);
            out << " (" << info.group << ',' << info.element << ")@" << dao.getIntByName(tag, "gridx") << ','
                << dao.getIntByName(tag, "gridy") << "=\"" << narrow(dao.getWideTextByName(tag, "prefix"))
                << narrow(dao.getTagValueByLevel(image, info)) << '"';
        }
        out << '\n';
    }

    // The annotation server's reply for the first image.
    TiXmlNode* first = dao.getHangingNodeList(root, 1).front();
    const std::string uid = dao.getInstanceUID(first);
    TiXmlDocument reply;
    reply.Parse("<Image><Tag group=\"0x0011\" element=\"0x101B\" vr=\"OB\">0a0b</Tag>"
                "<Tag group=\"0x0011\" element=\"0x101D\" vr=\"OB\">0100ff</Tag></Image>");
    out << "Reply for " << uid << ": annotated " << dao.isAnnotated(first);
    dao.configureImageAnnotation(uid, reply.RootElement());
    out << " -> " << dao.isAnnotated(first) << ", status tag \"" << dao.getImageStatusTag(first)
        << "\", annotation tag \"" << dao.getAnnotationTag(first) << "\"\n";

    dao.registerImage("ct_head_2.jp2", boost::make_shared<DemoImage>("1.2.840.99.1.1.1.2", "0a0b", true));
    dao.registerImage("ct_head_1.jp2", boost::make_shared<DemoImage>("1.2.840.99.1.1.1.1", "ff00", false));
    for (int call = 1; call <= 2; ++call) {
        const std::string status = dao.getImageStatus();
        out << "Image status " << call << " (modified " << dao.isStatusModified() << "):\n" << status;
    }
    return true;
}
